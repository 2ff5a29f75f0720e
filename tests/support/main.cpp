#include <QApplication>
#include <QTest>

#include "tst_diskinfo.h"
#include "tst_version.h"

// CreatePath shows a message box, which needs a widget application.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int status = 0;
    {
        DiskinfoTest diskinfo;
        status |= QTest::qExec(&diskinfo, argc, argv);
    }
    {
        VersionTest version;
        status |= QTest::qExec(&version, argc, argv);
    }
    return status;
}
