#include <QtTest>
#include <cerrno>
#include <cstring>

#include "support/Mod_Diskinfo.h"
#include "support/Mod_Version.h"

using namespace Mod_Diskinfo;

// Paths name the test's folder as "$T".
// clang-format off
struct CreateRow { QString path; int code; QString failing; };  // failing: the folder in the one error box
struct PathRow { QString path, stripped, folder; bool exists; };  // StripTrailingBackslash, FolderOfPath, PathExists
struct RootRow { QString path, root, kind; };  // kind: "unc" from IsUncPath, "drive" from HasDriveLetter
struct VersionRow { quint16 major, minor, revision; QString expected; };
// clang-format on

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
        QTest::addColumn<CreateRow>("r");
        // clang-format off
        QTest::newRow("nested") << CreateRow{"$T/new/a/b", 0, ""};
        QTest::newRow("doubled separator, trailing separator") << CreateRow{"$T/new//c/", 0, ""};
        QTest::newRow("below a file, stops at the first failure") << CreateRow{"$T/plain.txt/sub/deeper", ENOTDIR, "$T/plain.txt/sub"};
        // clang-format on
    }
    void createPath() {
        QFETCH(CreateRow, r);
        QCOMPARE(CreatePath(T(r.path)), qint16(r.code));
        const QString text = QString::fromLocal8Bit(std::strerror(r.code)) + " creating path ";
        QCOMPARE(boxes_,
                 r.code == 0 ? QStringList() : QStringList{"Error: " + text + T(r.failing)});
        QVERIFY(r.code != 0 || QFileInfo(T(r.path)).isDir());
    }

    void paths_data() {
        QTest::addColumn<PathRow>("r");
        // clang-format off
        QTest::newRow("existing folder") << PathRow{"$T/music", "$T/music", "$T/music", true};
        QTest::newRow("trailing separators") << PathRow{"$T/music//", "$T/music", "$T/music", false};
        QTest::newRow("spaces after separator") << PathRow{"$T/x/  ", "$T/x", "$T/x", false};
        QTest::newRow("spaces before separator stay") << PathRow{"$T/x  /", "$T/x  ", "$T/x  ", false};
        QTest::newRow("file") << PathRow{"$T/plain.txt", "$T/plain.txt", "$T", true};
        QTest::newRow("missing file") << PathRow{"$T/music/x.mp3", "$T/music/x.mp3", "$T/music", false};
        QTest::newRow("pattern with a match") << PathRow{"$T/*.txt", "$T/*.txt", "$T", true};
        QTest::newRow("pattern in a folder's name: the folder before it") << PathRow{"$T/mu*ic/x.mp3", "$T/mu*ic/x.mp3", "$T", false};
        QTest::newRow("question mark is no folder") << PathRow{"$T/fold?r", "$T/fold?r", "$T", true};
        QTest::newRow("no separator") << PathRow{"example.org", "example.org", "", false};
        QTest::newRow("web address") << PathRow{"https://www.example.org/a/", "https://www.example.org/a", "", false};
        QTest::newRow("web address without scheme") << PathRow{"www.example.org/help", "www.example.org/help", "", false};
        QTest::newRow("bare drive") << PathRow{"C:", "C:", "C:", false};
        QTest::newRow("file in root") << PathRow{"/corvane-missing", "/corvane-missing", "/", false};
        QTest::newRow("root") << PathRow{"/", "", "/", false};
        // clang-format on
    }
    void paths() {
        QFETCH(PathRow, r);
        QCOMPARE(StripTrailingBackslash(T(r.path)), T(r.stripped));
        QCOMPARE(FolderOfPath(T(r.path)), T(r.folder));
        QCOMPARE(PathExists(T(r.path)), r.exists);
    }

    void roots_data() {
        QTest::addColumn<RootRow>("r");
        // clang-format off
        QTest::newRow("network path") << RootRow{"//server/share/x", "//server/share", "unc"};
        QTest::newRow("network share") << RootRow{"//server/share", "//server/share", "unc"};
        QTest::newRow("network server alone") << RootRow{"//server", "", "unc"};
        QTest::newRow("drive path") << RootRow{"d:/x", "d:", "drive"};
        QTest::newRow("colon later") << RootRow{"ab:c/x", "ab:c", ""};
        QTest::newRow("absolute") << RootRow{"/home/x", "/", ""};
        QTest::newRow("separators later") << RootRow{"a//b", "a", ""};
        QTest::newRow("empty") << RootRow{"", "", ""};
        // clang-format on
    }
    void roots() {
        QFETCH(RootRow, r);
        QCOMPARE(PathRoot(r.path), r.root);
        QCOMPARE(QString(IsUncPath(r.path) ? "unc" : "") + (HasDriveLetter(r.path) ? "drive" : ""),
                 r.kind);
    }

    void version_data() {
        QTest::addColumn<VersionRow>("r");
        // clang-format off
        QTest::newRow("padded fields") << VersionRow{12, 5, 123, "12.05.0123"};
        QTest::newRow("wide fields written in full") << VersionRow{1, 123, 10000, "1.123.10000"};
        QTest::newRow("largest, no sign") << VersionRow{65535, 65535, 65535, "65535.65535.65535"};
        // clang-format on
    }
    void version() {
        QFETCH(VersionRow, r);
        QCOMPARE(Mod_Version::VersionString(r.major, r.minor, r.revision), r.expected);
    }
};

QTEST_MAIN(SupportTest)  // CreatePath's own error box needs a widget application
#include "tst_support.moc"
