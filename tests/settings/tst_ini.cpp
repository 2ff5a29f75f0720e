#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtTest>
#include <clocale>
#include <optional>

#include "MediaFixtures.h"
#include "settings/LikePattern.h"
#include "settings/Mod_INI.h"
#include "settings/SettingValue.h"

namespace {

constexpr char kNoFile[] = "<no file>";

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(kNoFile);
}

}  // namespace

// A missing file is written as kNoFile in `content`.
// clang-format off
struct LikeRow { QByteArray text, pattern; bool expected; };
struct GetRow { QByteArray content; QString key, section, expected; };  // expected "default" when not found
struct PutRow { QByteArray content; QStringList puts; QByteArray expected; };  // puts: "key=value" into [Settings], in order
struct ValueRow { QString text; double number; int low, high, value; };
struct SectionRow { QByteArray content; QByteArrayList read; QByteArrayList lines; QByteArray expected; QByteArrayList timed = {}; };  // read: "number:line" of [Schedule]; timed: [Timed]'s, written after
// clang-format on

class IniTest : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> dir_;  // a fresh one for every row
    QString IniPath() const { return dir_->filePath("settings.ini"); }
    QStringList Entries() const {
        return QDir(dir_->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

private slots:
    void init() { QVERIFY(dir_.emplace().isValid()); }

    // The semantics are checked against a reference matcher by fuzz_patterns; these rows are the
    // decisions a reference could share, and the patterns that must not take long.
    void likeMatch_data() {
        QTest::addColumn<LikeRow>("r");
        // clang-format off
        QTest::newRow("case counts") << LikeRow{"settings", "Settings", false};
        QTest::newRow("digit sign refuses letters") << LikeRow{"Section1A", "Section##", false};
        QTest::newRow("negated list") << LikeRow{"Sd", "S[!abc]", true};
        QTest::newRow("range, hyphen is no member") << LikeRow{"S-", "S[a-f]", false};
        QTest::newRow("unclosed bracket is literal") << LikeRow{"[abc", "[abc", true};
        QTest::newRow("list holding brackets") << LikeRow{"[", "[[[a]", true};
        QTest::newRow("a million unclosed brackets") << LikeRow{"Settings", QByteArray(1'000'000, '['), false};
        QTest::newRow("a million ranges") << LikeRow{"Settings", QByteArray("[\x01-\xff]").repeated(1'000'000), false};
        // clang-format on
    }
    void likeMatch() {
        QFETCH(LikeRow, r);
        QCOMPARE(Mod_INI::LikeMatch(r.text, r.pattern), r.expected);
    }

    void getIniValue_data() {
        QTest::addColumn<GetRow>("r");
        // clang-format off
        QTest::newRow("first match wins, even an empty value") << GetRow{"[Settings]\r\nA=\r\nA=2\r\n", "A", "Settings", ""};
        QTest::newRow("key in any case") << GetRow{"[Settings]\r\nmessageinterval=45\r\n", "MessageInterval", "Settings", "45"};
        QTest::newRow("spaces around = belong to the key and value") << GetRow{"[Settings]\r\nA = 4\r\n", "A ", "Settings", " 4"};
        QTest::newRow("value holding =") << GetRow{"[Settings]\r\nA=4=5\r\n", "A", "Settings", "4=5"};
        QTest::newRow("key above the first header") << GetRow{"A=1\r\n[Settings]\r\nB=2\r\n", "A", "Settings", "default"};
        QTest::newRow("section ends at the next header") << GetRow{"[Settings]\r\nB=2\r\n[Other]\r\nA=1\r\n", "A", "Settings", "default"};
        QTest::newRow("lower-case header") << GetRow{"[settings]\r\nA=1\r\n", "A", "Settings", "default"};
        QTest::newRow("a line shorter than REM") << GetRow{"[Settings]\r\nr=\r\n", "r", "Settings", ""};
        QTest::newRow("REM not at the start") << GetRow{"[Settings]\r\n REM=1\r\n", " REM", "Settings", "1"};
        QTest::newRow("a quote starts a comment") << GetRow{"[Settings]\r\n'A=1\r\n", "'A", "Settings", "default"};
        QTest::newRow("bracket alone is a header") << GetRow{"[Settings]\r\n[\r\nA=1\r\n", "A", "Settings", "default"};
        QTest::newRow("indented header is none") << GetRow{"[Settings]\r\n [Other]\r\nA=1\r\n", "A", "Settings", "1"};
        QTest::newRow("whole file, above the first header") << GetRow{"A=1\r\n[Other]\r\nB=2\r\n", "A", "", "1"};
        QTest::newRow("whole file, any section") << GetRow{"A=1\r\n[Other]\r\nB=2\r\n", "B", "", "2"};
        QTest::newRow("rEmote=1 is a comment") << GetRow{"[Settings]\r\nrEmote=1\r\n", "rEmote", "Settings", "default"};
        QTest::newRow("lone LF ends a line") << GetRow{"[Settings]\nA=1\nB=2\n", "A", "Settings", "1"};
        QTest::newRow("missing file") << GetRow{kNoFile, "A", "", "default"};
        QTest::newRow("hostile header passed over") << GetRow{"[" + QByteArray(1'000'000, '[') + "]\r\n[Settings]\r\nA=1\r\n", "A", "Settings", "1"};
        // clang-format on
    }
    void getIniValue() {
        QFETCH(GetRow, r);
        QVERIFY(r.content == kNoFile || MediaFixtures::MakeFile(IniPath(), r.content));
        QCOMPARE(Mod_INI::GetIniValue(IniPath(), r.key, "default", r.section), r.expected);
        QCOMPARE(ReadBytes(IniPath()), r.content);  // reading never writes
    }

    void putIniValue_data() {
        QTest::addColumn<PutRow>("r");
        // clang-format off
        QTest::newRow("five lines from nothing") << PutRow{kNoFile, {"MessageInterval=30", "MusicVolumeHigh=100", "MusicVolumeLow=10", "MessageVolume=100"}, "[Settings]\r\nMessageInterval=30\r\nMusicVolumeHigh=100\r\nMusicVolumeLow=10\r\nMessageVolume=100\r\n"};
        QTest::newRow("every match in place, as the caller spells the key") << PutRow{"[Settings]\r\nA=1\r\nB=2\r\na=3\r\n", {"A=9"}, "[Settings]\r\nA=9\r\nB=2\r\nA=9\r\n"};
        QTest::newRow("added before the next header") << PutRow{"[Settings]\r\nA=1\r\n\r\n\r\n[Other]\r\nB=2\r\n", {"C=3"}, "[Settings]\r\nA=1\r\n\r\n\r\nC=3\r\n[Other]\r\nB=2\r\n"};
        QTest::newRow("added as the last line") << PutRow{"[Other]\r\nB=2\r\n[Settings]\r\nA=1\r\n", {"C=3"}, "[Other]\r\nB=2\r\n[Settings]\r\nA=1\r\nC=3\r\n"};
        QTest::newRow("lower-case header is another section: one appended") << PutRow{"[settings]\r\nA=1\r\n", {"A=2"}, "[settings]\r\nA=1\r\n[Settings]\r\nA=2\r\n"};
        QTest::newRow("key above the first header kept") << PutRow{"A=1\r\n[Settings]\r\nB=2\r\n", {"A=9"}, "A=1\r\n[Settings]\r\nB=2\r\nA=9\r\n"};
        QTest::newRow("Remote=1 is never replaced") << PutRow{"[Settings]\r\nRemote=1\r\n", {"Remote=2"}, "[Settings]\r\nRemote=1\r\nRemote=2\r\n"};
        QTest::newRow("other bytes kept, last line gains its end") << PutRow{"; caf\xe9\r\n[Settings]\r\n\xe9=\xff", {"B=2"}, "; caf\xe9\r\n[Settings]\r\n\xe9=\xff\r\nB=2\r\n"};
        // clang-format on
    }
    // One put after another, and all of them in one step, give the same bytes.
    void putIniValue() {
        QFETCH(PutRow, r);
        const QString together = dir_->filePath("together.ini");
        QList<std::pair<QString, QString>> values;
        for (const QString& path : {IniPath(), together})
            QVERIFY(r.content == kNoFile || MediaFixtures::MakeFile(path, r.content));
        for (const QString& kv : r.puts) {
            Mod_INI::PutIniValue(IniPath(), kv.section('=', 0, 0), kv.section('=', 1), "Settings");
            values.append({kv.section('=', 0, 0), kv.section('=', 1)});
        }
        Mod_INI::PutIniValues(together, values, "Settings");
        QCOMPARE(ReadBytes(IniPath()), r.expected);
        QCOMPARE(ReadBytes(together), r.expected);
        // no temporary file left
        QCOMPARE(Entries(), (QStringList{"settings.ini", "together.ini"}));
    }

    void section_data() {
        QTest::addColumn<SectionRow>("r");
        // clang-format off
        QTest::newRow("replaced; comments and other sections kept") << SectionRow{"[Settings]\r\nA=1\r\n[schedule]\r\nMonday=x\r\n\r\nREM note\r\n Sun = closed \r\n[Other]\nB=2", {"4:Monday=x", "7: Sun = closed "}, {"Monday=08:00-20:00"}, "[Settings]\r\nA=1\r\n[schedule]\r\nMonday=08:00-20:00\r\nREM note\r\n[Other]\r\nB=2\r\n"};
        QTest::newRow("added at the end") << SectionRow{"[Settings]\r\nA=1", {}, {"Sunday=closed", "Closed=2026-12-24"}, "[Settings]\r\nA=1\r\n[Schedule]\r\nSunday=closed\r\nClosed=2026-12-24\r\n"};
        QTest::newRow("a second header goes with its lines") << SectionRow{"[Schedule]\r\nA=1\r\n[X]\r\nY=2\r\n[Schedule]\r\nB=3\r\n", {"2:A=1", "6:B=3"}, {"C=4"}, "[Schedule]\r\nC=4\r\n[X]\r\nY=2\r\n"};
        QTest::newRow("emptied") << SectionRow{"[Schedule]\r\nA=1\r\n", {"2:A=1"}, {}, "[Schedule]\r\n"};
        QTest::newRow("no file, nothing to write") << SectionRow{kNoFile, {}, {}, kNoFile};
        QTest::newRow("two sections, comments of each kept") << SectionRow{"[Timed]\r\n' keep\r\n12:00=a.mp3\r\n[Schedule]\r\nREM hours\r\nA=1", {"6:A=1"}, {"Sunday=closed"}, "[Timed]\r\n13:00=b.mp3\r\n' keep\r\n[Schedule]\r\nSunday=closed\r\nREM hours\r\n", {"13:00=b.mp3"}};
        QTest::newRow("no file, the first section empty") << SectionRow{kNoFile, {}, {}, "[Timed]\r\n13:00=b.mp3\r\n", {"13:00=b.mp3"}};
        // clang-format on
    }
    // A section read as its lines stand, and written back whole, the rest of the file untouched;
    // two sections one after the other, and both in one step, give the same bytes.
    void section() {
        QFETCH(SectionRow, r);
        const QString together = dir_->filePath("together.ini");
        for (const QString& path : {IniPath(), together})
            QVERIFY(r.content == kNoFile || MediaFixtures::MakeFile(path, r.content));
        QByteArrayList read;
        for (const auto& [number, line] : Mod_INI::GetIniSection(IniPath(), "Schedule"))
            read << QByteArray::number(number) + ':' + line;
        QCOMPARE(read, r.read);
        Mod_INI::PutIniSection(IniPath(), "Schedule", r.lines);
        Mod_INI::PutIniSection(IniPath(), "Timed", r.timed);
        Mod_INI::PutIniSections(together, {{"Schedule", r.lines}, {"Timed", r.timed}});
        QCOMPARE(ReadBytes(IniPath()), r.expected);
        QCOMPARE(ReadBytes(together), r.expected);
    }

    // A folder in the file's place can be neither read nor replaced, and nothing is made beside it.
    void folderInPlaceOfFile() {
        QVERIFY(QDir().mkpath(IniPath()));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("settings.ini cannot be read"));
        Mod_INI::PutIniValue(IniPath(), "MessageInterval", "600", "Settings");
        QVERIFY(QDir(IniPath()).isEmpty());
        QCOMPARE(Entries(), QStringList{"settings.ini"});
    }

    // A folder that may not be written, holding a settings file that may: the file is rewritten in
    // place. Run by a user other than root, whom permissions do not stop.
    void readOnlyFolderWritableFile() {
        QVERIFY(MediaFixtures::MakeFile(IniPath(), "[Settings]\r\nMessageInterval=45\r\n"));
        constexpr uid_t kNobody = 65534;
        const bool root = ::geteuid() == 0;
        QVERIFY(!root || ::chown(QFile::encodeName(IniPath()).constData(), kNobody, kNobody) == 0);
        const QByteArray folder = QFile::encodeName(dir_->path());
        QVERIFY(::chmod(folder.constData(), 0555) == 0);
        const auto writable = qScopeGuard([&] { ::chmod(folder.constData(), 0755); });
        const pid_t child = ::fork();
        if (child == 0) {
            if (root && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
                ::_exit(2);
            Mod_INI::PutIniValue(IniPath(), "MessageInterval", "600", "Settings");
            ::_exit(0);
        }
        int status = -1;
        QVERIFY(child > 0 && ::waitpid(child, &status, 0) == child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QCOMPARE(ReadBytes(IniPath()), QByteArray("[Settings]\r\nMessageInterval=600\r\n"));
        QCOMPARE(Entries(), QStringList{"settings.ini"});
    }

    // Wildcard characters in the folder or name are plain characters of the path: a file they
    // would match as a pattern is not taken for it.
    void wildcardCharactersInPath() {
        const QString path = dir_->filePath("Shop?Music*/corv?ne.ini");
        const QString lookalike = dir_->filePath("ShopXMusic/corvane.ini");
        QVERIFY(QDir().mkpath(QFileInfo(path).path()) &&
                QDir().mkpath(QFileInfo(lookalike).path()));
        QVERIFY(MediaFixtures::MakeFile(lookalike, "[Settings]\r\n"));
        Mod_INI::PutIniValue(path, "MessageInterval", "7", "Settings");
        QCOMPARE(ReadBytes(path), QByteArray("[Settings]\r\nMessageInterval=7\r\n"));
    }

    void settingValue_data() {
        QTest::addColumn<ValueRow>("r");
        QTest::newRow("blanks and tabs; half to even") << ValueRow{" 4 \t5 . 5 ", 45.5, 0, 100, 46};
        QTest::newRow("exponent") << ValueRow{"2.5E1", 25, 0, 100, 25};
        QTest::newRow("D exponent, negative; half to even") << ValueRow{"25d-1", 2.5, 0, 100, 2};
        QTest::newRow("hexadecimal") << ValueRow{"&h1F", 31, 0, 100, 31};
        QTest::newRow("octal stops at 8") << ValueRow{"&O178", 15, 0, 100, 15};
        QTest::newRow("stops at junk; half to even") << ValueRow{"4.5x6", 4.5, 0, 100, 4};
        QTest::newRow("no number") << ValueRow{"abc", 0, 0, 100, 0};
        QTest::newRow("16-bit top") << ValueRow{"99999", 99999, -100000, 100000, 32767};
        QTest::newRow("16-bit bottom") << ValueRow{"- 99999", -99999, -100000, 100000, -32768};
        QTest::newRow("range") << ValueRow{"601", 601, 0, 600, 600};
        QTest::newRow("beyond a double") << ValueRow{"-1E999", -HUGE_VAL, -100, 100, -100};
        QTest::newRow("below a double") << ValueRow{"1E-999", 0, -100, 100, 0};
    }
    // The same in a locale whose decimal separator is a comma.
    void settingValue() {
        QFETCH(ValueRow, r);
        for (const char* locale : {"C", "de_DE.UTF-8"}) {
            if (std::setlocale(LC_NUMERIC, locale) == nullptr) {
                qWarning("locale %s is missing: scripts/install-deps.sh generates it", locale);
                continue;
            }
            const auto reset = qScopeGuard([] { std::setlocale(LC_NUMERIC, "C"); });
            QCOMPARE(TextToNumber(r.text), r.number);
            QCOMPARE(TextToSettingValue(r.text, r.low, r.high), r.value);
        }
    }

    void iniFilePath() {
        QCOMPARE(Mod_INI::IniFilePath(),
                 QCoreApplication::applicationDirPath() + "/tst_settings.ini");
    }
};

QTEST_GUILESS_MAIN(IniTest)
#include "tst_ini.moc"
