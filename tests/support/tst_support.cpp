#include <QtTest>
#include <cerrno>
#include <cstring>

#include "support/Mod_Diskinfo.h"
#include "support/Mod_Version.h"

using namespace Mod_Diskinfo;

class SupportTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QStringList boxes_;  // "title: text" of every error box shown

    QString T(QString path) const { return path.replace("$T", dir_.path()); }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid() && QDir(dir_.path()).mkpath("music") &&
                QDir(dir_.path()).mkpath("fold?r"));
        QVERIFY(QFile(dir_.filePath("plain.txt")).open(QIODevice::WriteOnly));
        SetErrorBox([this](auto& text, auto& title) { boxes_ << title + ": " + text; });
    }
    void init() { boxes_.clear(); }

    void createPath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("failing");  // the folder named by the one error box
        // clang-format off
        QTest::newRow("nested") << "$T/new/a/b" << 0 << "";
        QTest::newRow("doubled separator, trailing separator") << "$T/new//c/" << 0 << "";
        QTest::newRow("existing") << "$T/music" << 0 << "";
        QTest::newRow("below a file, stops at the first failure") << "$T/plain.txt/sub/deeper" << ENOTDIR << "$T/plain.txt/sub";
        // clang-format on
    }
    void createPath() {
        QFETCH(QString, path);
        QFETCH(int, code);
        QFETCH(QString, failing);
        QCOMPARE(CreatePath(T(path)), qint16(code));
        const QString text = QString::fromLocal8Bit(std::strerror(code)) + " creating path ";
        QCOMPARE(boxes_, code == 0 ? QStringList() : QStringList{"Error: " + text + T(failing)});
        QVERIFY(code != 0 || QFileInfo(T(path)).isDir());
    }

    void paths_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("stripped");  // StripTrailingBackslash
        QTest::addColumn<QString>("folder");    // FolderOfPath
        QTest::addColumn<bool>("exists");       // PathExists
        // clang-format off
        QTest::newRow("existing folder") << "$T/music" << "$T/music" << "$T/music" << true;
        QTest::newRow("trailing separators") << "$T/music//" << "$T/music" << "$T/music" << false;
        QTest::newRow("spaces after separator") << "$T/x/  " << "$T/x" << "$T/x" << false;
        QTest::newRow("spaces before separator stay") << "$T/x  /" << "$T/x  " << "$T/x  " << false;
        QTest::newRow("file") << "$T/plain.txt" << "$T/plain.txt" << "$T" << true;
        QTest::newRow("missing file") << "$T/music/x.mp3" << "$T/music/x.mp3" << "$T/music" << false;
        QTest::newRow("pattern with a match") << "$T/*.txt" << "$T/*.txt" << "$T" << true;
        QTest::newRow("pattern without a match") << "$T/music/*.mp3" << "$T/music/*.mp3" << "$T/music" << false;
        QTest::newRow("question mark is no folder") << "$T/fold?r" << "$T/fold?r" << "$T" << true;
        QTest::newRow("no separator") << "example.org" << "example.org" << "" << false;
        QTest::newRow("web address") << "https://www.example.org/a/" << "https://www.example.org/a" << "" << false;
        QTest::newRow("web address without scheme") << "www.example.org/help" << "www.example.org/help" << "" << false;
        QTest::newRow("bare drive") << "C:" << "C:" << "C:" << false;
        QTest::newRow("file in root") << "/corvane-missing" << "/corvane-missing" << "/" << false;
        QTest::newRow("root") << "/" << "" << "/" << false;
        // clang-format on
    }
    void paths() {
        QFETCH(QString, path);
        QFETCH(QString, stripped);
        QFETCH(QString, folder);
        QFETCH(bool, exists);
        QCOMPARE(StripTrailingBackslash(T(path)), T(stripped));
        QCOMPARE(FolderOfPath(T(path)), T(folder));
        QCOMPARE(PathExists(T(path)), exists);
    }

    void roots_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("kind");  // "unc" from IsUncPath, "drive" from HasDriveLetter
        // clang-format off
        QTest::newRow("network path") << "//server/share/x" << "//server/share" << "unc";
        QTest::newRow("network share") << "//server/share" << "//server/share" << "unc";
        QTest::newRow("network server alone") << "//server" << "" << "unc";
        QTest::newRow("drive path") << "d:/x" << "d:" << "drive";
        QTest::newRow("colon later") << "ab:c/x" << "ab:c" << "";
        QTest::newRow("absolute") << "/home/x" << "/" << "";
        QTest::newRow("separators later") << "a//b" << "a" << "";
        QTest::newRow("empty") << "" << "" << "";
        // clang-format on
    }
    void roots() {
        QFETCH(QString, path);
        QFETCH(QString, root);
        QFETCH(QString, kind);
        QCOMPARE(PathRoot(path), root);
        QCOMPARE(QString(IsUncPath(path) ? "unc" : "") + (HasDriveLetter(path) ? "drive" : ""),
                 kind);
    }

    void version_data() {
        QTest::addColumn<QList<quint16>>("numbers");  // major, minor, revision
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("padded fields") << QList<quint16>{12, 5, 123} << "12.05.0123";
        QTest::newRow("wide fields written in full") << QList<quint16>{1, 123, 10000} << "1.123.10000";
        QTest::newRow("largest, no sign") << QList<quint16>{65535, 65535, 65535} << "65535.65535.65535";
        // clang-format on
    }
    void version() {
        QFETCH(QList<quint16>, numbers);
        QFETCH(QString, expected);
        QCOMPARE(Mod_Version::VersionString(numbers[0], numbers[1], numbers[2]), expected);
        QCOMPARE(Mod_Version::VersionString(), QStringLiteral("1.00.0009"));  // this release
    }
};

QTEST_MAIN(SupportTest)  // CreatePath's own error box needs a widget application
#include "tst_support.moc"
