#include "tst_version.h"

#include <QTest>

#include "support/Mod_Version.h"

void VersionTest::versionString_data() {
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("expected");

    QTest::newRow("this release") << 1 << 0 << 9 << "1.00.0009";
    QTest::newRow("all zero") << 0 << 0 << 0 << "0.00.0000";
    QTest::newRow("two-digit major, padded fields") << 12 << 5 << 123 << "12.05.0123";
    QTest::newRow("wide minor written in full") << 1 << 123 << 9 << "1.123.0009";
    QTest::newRow("fields exactly at their width") << 0 << 99 << 9999 << "0.99.9999";
    QTest::newRow("wide revision written in full") << 2 << 10 << 10000 << "2.10.10000";
    QTest::newRow("largest numbers, no sign") << 65535 << 65535 << 65535 << "65535.65535.65535";
}

void VersionTest::versionString() {
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(QString, expected);
    QCOMPARE(Mod_Version::VersionString(static_cast<quint16>(major), static_cast<quint16>(minor),
                                        static_cast<quint16>(revision)),
             expected);
}

void VersionTest::thisRelease() {
    // The console header and the About window both show this exact text.
    QCOMPARE(Mod_Version::VersionString(), QStringLiteral("1.00.0009"));
}
