#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

// Mod_Diskinfo: testing, creating and taking apart paths.
class DiskinfoTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pathExists_data();
    void pathExists();
    void createPath_data();
    void createPath();
    void createPathFailure_data();
    void createPathFailure();
    void stripTrailingBackslash_data();
    void stripTrailingBackslash();
    void folderOfPath_data();
    void folderOfPath();
    void pathRoot_data();
    void pathRoot();
    void isUncPath_data();
    void isUncPath();
    void hasDriveLetter_data();
    void hasDriveLetter();
    void pathRootExists_data();
    void pathRootExists();
    void getShortPath_data();
    void getShortPath();

private:
    struct Box {
        QString text;
        QString title;
    };

    // "$T" stands for the fixture folder, "$S" for a network share that does not exist.
    QString Resolve(QString path) const;

    QTemporaryDir root_;
    QString missingShareName_;
    QString savedCurrent_;
    QList<Box> boxes_;
};
