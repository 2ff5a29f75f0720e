#pragma once

#include <QObject>
#include <QTemporaryDir>

// Opening documents, folders and web addresses with the desktop's associated program.
class StartDocTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startDoc_data();
    void startDoc();

private:
    QTemporaryDir dir_;
};
