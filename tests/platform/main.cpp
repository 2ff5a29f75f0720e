#include <QCoreApplication>
#include <QTest>

#include "tst_files.h"
#include "tst_mci.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int status = 0;
    {
        FilesTest files;
        status |= QTest::qExec(&files, argc, argv);
    }
    {
        CommandLineTest commandLine;
        status |= QTest::qExec(&commandLine, argc, argv);
    }
    {
        MciInterpreterTest interpreter;
        status |= QTest::qExec(&interpreter, argc, argv);
    }
    return status;
}
