#pragma once

#include <QObject>
#include <QString>
#include <QTemporaryDir>

// Platform::Files: the directory search, short names, attributes, folder creation and the
// wildcard match that the path utilities are built on.
class FilesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void findFirstMatch_data();
    void findFirstMatch();
    void shortPathName_data();
    void shortPathName();
    void attributes_data();
    void attributes();
    void createFolder_data();
    void createFolder();
    void createFolderWithoutErrorText();
    void wildcardMatch_data();
    void wildcardMatch();

private:
    // "$T" in table paths stands for the fixture folder, so rows stay readable.
    QString Resolve(QString path) const;

    QTemporaryDir root_;
    QString savedCurrent_;
};
