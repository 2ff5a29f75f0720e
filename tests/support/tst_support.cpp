#include <sys/resource.h>

#include <QtTest>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "MediaFixtures.h"
#include "support/Mod_Diskinfo.h"
#include "support/Mod_Version.h"
#include "support/SafeWrite.h"

using namespace Mod_Diskinfo;

// Paths name the test's folder as "$T". PathExists is FindFirstMatch, tested with the platform.
// clang-format off
struct PathRow { QString path, stripped, folder; };  // StripTrailingBackslash, FolderOfPath
struct RootRow { QString path, root, kind; };  // kind: "unc" from IsUncPath, "drive" from HasDriveLetter
// before/after: a file's content, or kNothing or kFolder; kNew is what was written. fileLimit 0: none.
struct WriteRow { QString name; QByteArray before; qsizetype size; rlim_t fileLimit; SafeWrite::Outcome outcome; QByteArray after; };
// clang-format on

namespace {

constexpr char kNothing[] = "<nothing>";
constexpr char kFolder[] = "<folder>";
constexpr char kNew[] = "<new>";

QByteArray Found(const QString& path) {
    if (QFileInfo(path).isDir()) {
        return QDir(path).isEmpty() ? kFolder : "<folder not empty>";
    }
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(kNothing);
}

// Writes with files limited to `limit` bytes, as a disk that fills part-way would; even root is
// stopped by it.
SafeWrite::Result ReplaceWithin(rlim_t limit, const QString& path, const QByteArray& bytes) {
    rlimit saved{};
    if (limit == 0 || ::getrlimit(RLIMIT_FSIZE, &saved) != 0) {
        return SafeWrite::ReplaceFile(path, bytes);
    }
    const rlimit limited{limit, saved.rlim_max};
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limited);
    SafeWrite::Result result = SafeWrite::ReplaceFile(path, bytes);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    return result;
}

}  // namespace

class SupportTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QStringList boxes_;  // the text of every error box shown

    QString T(QString path) const { return path.replace("$T", dir_.path()); }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid() && QDir(dir_.path()).mkpath("music") &&
                QDir(dir_.path()).mkpath("fold?r"));
        QVERIFY(QFile(dir_.filePath("plain.txt")).open(QIODevice::WriteOnly));
        SetErrorBox([this](auto& text, auto&) { boxes_ << text; });
    }

    // Every missing folder is made, a doubled separator naming none; below a file the first
    // failure ends it, in one box giving the cause and that folder.
    void createPath() {
        QVERIFY(CreatePath(T("$T/new//a/b")) == 0 && QFileInfo(T("$T/new/a/b")).isDir());
        QCOMPARE(CreatePath(T("$T/plain.txt/sub/deeper")), qint16(ENOTDIR));
        QCOMPARE(boxes_.size(), 1);
        QVERIFY(boxes_[0].startsWith(QString::fromLocal8Bit(std::strerror(ENOTDIR))) &&
                boxes_[0].endsWith(T(" $T/plain.txt/sub")));
    }

    void paths_data() {
        QTest::addColumn<PathRow>("r");
        // clang-format off
        QTest::newRow("existing folder") << PathRow{"$T/music", "$T/music", "$T/music"};
        QTest::newRow("trailing separators") << PathRow{"$T/music//", "$T/music", "$T/music"};
        QTest::newRow("spaces after separator") << PathRow{"$T/x/  ", "$T/x", "$T/x"};
        QTest::newRow("spaces before separator stay") << PathRow{"$T/x  /", "$T/x  ", "$T/x  "};
        QTest::newRow("file") << PathRow{"$T/plain.txt", "$T/plain.txt", "$T"};
        QTest::newRow("pattern in a folder's name: the folder before it") << PathRow{"$T/mu*ic/x.mp3", "$T/mu*ic/x.mp3", "$T"};
        QTest::newRow("question mark is no folder") << PathRow{"$T/fold?r", "$T/fold?r", "$T"};
        QTest::newRow("no separator") << PathRow{"example.org", "example.org", ""};
        QTest::newRow("web address") << PathRow{"https://www.example.org/a/", "https://www.example.org/a", ""};
        QTest::newRow("web address without scheme") << PathRow{"www.example.org/help", "www.example.org/help", ""};
        QTest::newRow("bare drive") << PathRow{"C:", "C:", "C:"};
        QTest::newRow("file in root") << PathRow{"/corvane-missing", "/corvane-missing", "/"};
        // clang-format on
    }
    void paths() {
        QFETCH(PathRow, r);
        QCOMPARE(StripTrailingBackslash(T(r.path)), T(r.stripped));
        QCOMPARE(FolderOfPath(T(r.path)), T(r.folder));
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

    // Small writes wait in Qt's buffer until the file is committed, large ones go at once; a
    // failure of either keeps the old file, and no new file is left beside it.
    void replaceFile_data() {
        QTest::addColumn<WriteRow>("r");
        using enum SafeWrite::Outcome;
        // clang-format off
        QTest::newRow("made") << WriteRow{"a.txt", kNothing, 100, 0, Written, kNew};
        QTest::newRow("longer old file replaced whole") << WriteRow{"a.txt", QByteArray(200, 'o'), 100, 0, Written, kNew};
        QTest::newRow("disk full, small write") << WriteRow{"a.txt", "old", 100, 16, NotWritten, "old"};
        QTest::newRow("disk full, large write") << WriteRow{"a.txt", "old", 1 << 20, 4096, NotWritten, "old"};
        QTest::newRow("disk full, nothing before") << WriteRow{"a.txt", kNothing, 100, 16, NotWritten, kNothing};
        QTest::newRow("a folder in its place") << WriteRow{"a.txt", kFolder, 100, 0, NotOpened, kFolder};
        QTest::newRow("missing folder") << WriteRow{"none/a.txt", kNothing, 100, 0, NotOpened, kNothing};
        // clang-format on
    }
    void replaceFile() {
        QFETCH(WriteRow, r);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(r.name);
        QVERIFY(r.before != kFolder || QDir().mkpath(path));
        QVERIFY(r.before == kNothing || r.before == kFolder ||
                MediaFixtures::MakeFile(path, r.before));
        const QByteArray bytes(r.size, 'n');
        const SafeWrite::Result result = ReplaceWithin(r.fileLimit, path, bytes);
        QCOMPARE(int(result.outcome), int(r.outcome));
        QCOMPARE(result.reason.isEmpty(), r.outcome == SafeWrite::Outcome::Written);
        QCOMPARE(Found(path), r.after == kNew ? bytes : r.after);
        const QStringList left =
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        QCOMPARE(left, r.after == kNothing ? QStringList() : QStringList{r.name});
    }

    // Minor and revision padded to 2 and 4 digits but never cut; no field read as signed.
    void version() {
        QCOMPARE(Mod_Version::VersionString(65535, 5, 123), "65535.05.0123");
        QCOMPARE(Mod_Version::VersionString(1, 65535, 65535), "1.65535.65535");
    }
};

QTEST_MAIN(SupportTest)  // CreatePath's own error box needs a widget application
#include "tst_support.moc"
