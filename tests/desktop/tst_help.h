#pragma once

#include <QObject>
#include <QTemporaryDir>

// The help window: the program's own help file or a given one, shown inside the program, with a
// missing file reported in the same window rather than in a message box.
class HelpTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void configuredHelpFile();
    void showHelp_data();
    void showHelp();
    void oneHelpWindowPerOwner();

private:
    QTemporaryDir dir_;
    bool madeConfigured_ = false;
};
