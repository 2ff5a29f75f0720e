// Runs every test class of the desktop integration; each lives in its own file.

#include <QApplication>
#include <QTest>

#include "tst_help.h"
#include "tst_startdoc.h"

// The help window needs a widget application.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    int failures = 0;
    {
        StartDocTest test;
        failures += QTest::qExec(&test, argc, argv);
    }
    {
        HelpTest test;
        failures += QTest::qExec(&test, argc, argv);
    }
    return failures == 0 ? 0 : 1;
}
