#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtTest>
#include <csignal>
#include <optional>

#include "MediaFixtures.h"
#include "settings/Mod_INI.h"

namespace {

constexpr char kNoFile[] = "<no file>";

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(kNoFile);
}

}  // namespace

class IniTest : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> dir_;  // a fresh one for every row
    QString IniPath() const { return dir_->filePath("settings.ini"); }
    QStringList Entries() const {
        return QDir(dir_->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

private slots:
    void init() { QVERIFY(dir_.emplace().isValid()); }

    void likeMatch_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<bool>("expected");
        // clang-format off
        QTest::newRow("case counts") << QByteArray("settings") << QByteArray("Settings") << false;
        QTest::newRow("prefix is not enough") << QByteArray("Settings") << QByteArray("Setting") << false;
        QTest::newRow("question mark") << QByteArray("Settings") << QByteArray("S?ttings") << true;
        QTest::newRow("question mark needs a character") << QByteArray() << QByteArray("?") << false;
        QTest::newRow("star") << QByteArray("Settings") << QByteArray("Set*") << true;
        QTest::newRow("star back-tracks") << QByteArray("aaab") << QByteArray("*ab") << true;
        QTest::newRow("digits") << QByteArray("Section12") << QByteArray("Section##") << true;
        QTest::newRow("digit sign refuses letters") << QByteArray("Section1A") << QByteArray("Section##") << false;
        QTest::newRow("list") << QByteArray("Sb") << QByteArray("S[abc]") << true;
        QTest::newRow("not in list") << QByteArray("Sd") << QByteArray("S[abc]") << false;
        QTest::newRow("negated list") << QByteArray("Sd") << QByteArray("S[!abc]") << true;
        QTest::newRow("range, high end") << QByteArray("Sf") << QByteArray("S[a-f]") << true;
        QTest::newRow("range, outside") << QByteArray("Sg") << QByteArray("S[a-f]") << false;
        QTest::newRow("range, hyphen is no member") << QByteArray("S-") << QByteArray("S[a-f]") << false;
        QTest::newRow("unclosed bracket is literal") << QByteArray("[abc") << QByteArray("[abc") << true;
        QTest::newRow("range up to the top byte") << QByteArray("S\xff") << QByteArray("S[\x01-\xff]") << true;
        QTest::newRow("list holding brackets") << QByteArray("[") << QByteArray("[[[a]") << true;
        QTest::newRow("a million unclosed brackets") << QByteArray("Settings") << QByteArray(1'000'000, '[') << false;
        QTest::newRow("a million ranges") << QByteArray("Settings") << QByteArray("[\x01-\xff]").repeated(1'000'000) << false;
        // clang-format on
    }
    void likeMatch() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, pattern);
        QFETCH(bool, expected);
        QCOMPARE(Mod_INI::LikeMatch(text, pattern), expected);
    }

    void classifyLine_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("kind");
        const int comment = int(Mod_INI::LineKind::Comment);
        const int header = int(Mod_INI::LineKind::Header);
        const int other = int(Mod_INI::LineKind::Other);
        // clang-format off
        QTest::newRow("rEm, any case") << QByteArray("rEm=1") << comment;
        QTest::newRow("Remote=1") << QByteArray("Remote=1") << comment;
        QTest::newRow("too short for REM") << QByteArray("re") << other;
        QTest::newRow("REM not at the start") << QByteArray(" REM") << other;
        QTest::newRow("quote") << QByteArray("'[Settings]") << comment;
        QTest::newRow("header") << QByteArray("[Settings]") << header;
        QTest::newRow("bracket alone") << QByteArray("[") << header;
        QTest::newRow("indented header") << QByteArray(" [Settings]") << other;
        // clang-format on
    }
    void classifyLine() {
        QFETCH(QByteArray, line);
        QFETCH(int, kind);
        QCOMPARE(int(Mod_INI::ClassifyLine(line)), kind);
    }

    void getIniValue_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("expected");  // "default" when not found
        // clang-format off
        QTest::newRow("first match wins") << QByteArray("[Settings]\r\nA=1\r\nA=2\r\n") << "A" << "Settings" << "1";
        QTest::newRow("key in any case") << QByteArray("[Settings]\r\nmessageinterval=45\r\n") << "MessageInterval" << "Settings" << "45";
        QTest::newRow("spaces around = belong to the key") << QByteArray("[Settings]\r\nA = 4\r\n") << "A" << "Settings" << "default";
        QTest::newRow("key with its space") << QByteArray("[Settings]\r\nA = 4\r\n") << "A " << "Settings" << " 4";
        QTest::newRow("value holding =") << QByteArray("[Settings]\r\nA=4=5\r\n") << "A" << "Settings" << "4=5";
        QTest::newRow("empty value is no default") << QByteArray("[Settings]\r\nA=\r\nA=2\r\n") << "A" << "Settings" << "";
        QTest::newRow("key above the first header") << QByteArray("A=1\r\n[Settings]\r\nB=2\r\n") << "A" << "Settings" << "default";
        QTest::newRow("section ends at the next header") << QByteArray("[Settings]\r\nB=2\r\n[Other]\r\nA=1\r\n") << "A" << "Settings" << "default";
        QTest::newRow("lower-case header") << QByteArray("[settings]\r\nA=1\r\n") << "A" << "Settings" << "default";
        QTest::newRow("bracket alone") << QByteArray("[\r\nA=1\r\n") << "A" << "Settings" << "default";
        QTest::newRow("whole file, above the first header") << QByteArray("A=1\r\n[Other]\r\nB=2\r\n") << "A" << "" << "1";
        QTest::newRow("whole file, any section") << QByteArray("A=1\r\n[Other]\r\nB=2\r\n") << "B" << "" << "2";
        QTest::newRow("Remote=1 is a comment") << QByteArray("[Settings]\r\nRemote=1\r\n") << "Remote" << "Settings" << "default";
        QTest::newRow("lone LF ends a line") << QByteArray("[Settings]\nA=1\nB=2\n") << "A" << "Settings" << "1";
        QTest::newRow("missing file") << QByteArray(kNoFile) << "A" << "" << "default";
        QTest::newRow("hostile header passed over") << "[" + QByteArray(1'000'000, '[') + "]\r\n[Settings]\r\nA=1\r\n" << "A" << "Settings" << "1";
        // clang-format on
    }
    void getIniValue() {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QString, section);
        QFETCH(QString, expected);
        QVERIFY(content == kNoFile || MediaFixtures::MakeFile(IniPath(), content));
        QCOMPARE(Mod_INI::GetIniValue(IniPath(), key, "default", section), expected);
        QCOMPARE(ReadBytes(IniPath()), content);  // reading never writes
    }

    void putIniValue_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("puts");  // "key=value" into [Settings], in order
        QTest::addColumn<QByteArray>("expected");
        // clang-format off
        QTest::newRow("five lines from nothing") << QByteArray(kNoFile) << QStringList{"MessageInterval=30", "MusicVolumeHigh=100", "MusicVolumeLow=10", "MessageVolume=100"} << QByteArray("[Settings]\r\nMessageInterval=30\r\nMusicVolumeHigh=100\r\nMusicVolumeLow=10\r\nMessageVolume=100\r\n");
        QTest::newRow("in place, as the caller spells the key") << QByteArray("[Settings]\r\nA=1\r\nmessageinterval=45\r\nC=3\r\n") << QStringList{"MessageInterval=60"} << QByteArray("[Settings]\r\nA=1\r\nMessageInterval=60\r\nC=3\r\n");
        QTest::newRow("duplicates both replaced") << QByteArray("[Settings]\r\nA=1\r\nB=2\r\na=3\r\n") << QStringList{"A=9"} << QByteArray("[Settings]\r\nA=9\r\nB=2\r\nA=9\r\n");
        QTest::newRow("added before the next header") << QByteArray("[Settings]\r\nA=1\r\n\r\n\r\n[Other]\r\nB=2\r\n") << QStringList{"C=3"} << QByteArray("[Settings]\r\nA=1\r\n\r\n\r\nC=3\r\n[Other]\r\nB=2\r\n");
        QTest::newRow("added as the last line") << QByteArray("[Other]\r\nB=2\r\n[Settings]\r\nA=1\r\n") << QStringList{"C=3"} << QByteArray("[Other]\r\nB=2\r\n[Settings]\r\nA=1\r\nC=3\r\n");
        QTest::newRow("missing section appended") << QByteArray("[Other]\r\nA=2\r\n") << QStringList{"A=1"} << QByteArray("[Other]\r\nA=2\r\n[Settings]\r\nA=1\r\n");
        QTest::newRow("lower-case header is another section") << QByteArray("[settings]\r\nA=1\r\n") << QStringList{"A=2"} << QByteArray("[settings]\r\nA=1\r\n[Settings]\r\nA=2\r\n");
        QTest::newRow("key above the first header kept") << QByteArray("A=1\r\n[Settings]\r\nB=2\r\n") << QStringList{"A=9"} << QByteArray("A=1\r\n[Settings]\r\nB=2\r\nA=9\r\n");
        QTest::newRow("Remote=1 is never replaced") << QByteArray("[Settings]\r\nRemote=1\r\n") << QStringList{"Remote=2"} << QByteArray("[Settings]\r\nRemote=1\r\nRemote=2\r\n");
        QTest::newRow("last line gains its end") << QByteArray("[Settings]\r\nA=1") << QStringList{"B=2"} << QByteArray("[Settings]\r\nA=1\r\nB=2\r\n");
        QTest::newRow("other bytes kept") << QByteArray("; caf\xe9\r\n[Settings]\r\n\xe9=\xff\r\nA=1\r\n") << QStringList{"A=2"} << QByteArray("; caf\xe9\r\n[Settings]\r\n\xe9=\xff\r\nA=2\r\n");
        // clang-format on
    }
    // One put after another, and all of them in one step, give the same bytes.
    void putIniValue() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, puts);
        QFETCH(QByteArray, expected);
        const QString together = dir_->filePath("together.ini");
        QList<std::pair<QString, QString>> values;
        for (const QString& path : {IniPath(), together})
            QVERIFY(content == kNoFile || MediaFixtures::MakeFile(path, content));
        for (const QString& kv : puts) {
            Mod_INI::PutIniValue(IniPath(), kv.section('=', 0, 0), kv.section('=', 1), "Settings");
            values.append({kv.section('=', 0, 0), kv.section('=', 1)});
        }
        Mod_INI::PutIniValues(together, values, "Settings");
        QCOMPARE(ReadBytes(IniPath()), expected);
        QCOMPARE(ReadBytes(together), expected);
        // no temporary file left
        QCOMPARE(Entries(), (QStringList{"settings.ini", "together.ini"}));
    }

    // A write that fails leaves the old file as it was, and nothing beside it.
    void failedWriteKeepsOldFile() {
        const QByteArray old("[Settings]\r\nMessageInterval=45\r\nMessageVolume=80\r\n");
        QVERIFY(MediaFixtures::MakeFile(IniPath(), old));
        // A file-size limit stops the new content part-way, as a full disk would, even for root.
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const rlimit limited{16, saved.rlim_max};
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limited) == 0);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("settings.ini could not be written"));
        Mod_INI::PutIniValue(IniPath(), "MessageInterval", "600", "Settings");
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
        QCOMPARE(ReadBytes(IniPath()), old);
        // A folder in the file's place can be neither read nor replaced.
        QVERIFY(QDir().mkpath(dir_->filePath("folder.ini")));
        Mod_INI::PutIniValue(dir_->filePath("folder.ini"), "MessageInterval", "600", "Settings");
        QVERIFY(QDir(dir_->filePath("folder.ini")).isEmpty());
        QCOMPARE(Entries(), (QStringList{"folder.ini", "settings.ini"}));
    }

    // A folder that may not be written, holding a settings file that may: the file is rewritten in
    // place. Run by a user other than root, whom permissions do not stop.
    void readOnlyFolderWritableFile() {
        QVERIFY(MediaFixtures::MakeFile(IniPath(), "[Settings]\r\nMessageInterval=45\r\n"));
        constexpr uid_t kNobody = 65534;
        const bool root = ::geteuid() == 0;
        QVERIFY(!root || ::chown(QFile::encodeName(IniPath()).constData(), kNobody, kNobody) == 0);
        const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                              QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                              QFileDevice::ReadOther | QFileDevice::ExeOther;
        QVERIFY(QFile::setPermissions(dir_->path(), readOnly));
        const auto writable = qScopeGuard(
            [&] { QFile::setPermissions(dir_->path(), readOnly | QFileDevice::WriteOwner); });
        const pid_t child = ::fork();
        if (child == 0) {
            if (root && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
                ::_exit(2);
            }
            Mod_INI::PutIniValue(IniPath(), "MessageInterval", "600", "Settings");
            ::_exit(0);
        }
        int status = -1;
        QVERIFY(child > 0 && ::waitpid(child, &status, 0) == child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QCOMPARE(ReadBytes(IniPath()), QByteArray("[Settings]\r\nMessageInterval=600\r\n"));
        QCOMPARE(Entries(), QStringList{"settings.ini"});
    }

    // Wildcard characters in the folder or name are plain characters of the path, not a pattern.
    void wildcardCharactersInPath() {
        const QString path = dir_->filePath("Shop?Music*/corv?ne.ini");
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        for (const char* key : {"MessageInterval", "MessageVolume"}) {
            Mod_INI::PutIniValue(path, key, "7", "Settings");
        }
        QCOMPARE(ReadBytes(path),
                 QByteArray("[Settings]\r\nMessageInterval=7\r\nMessageVolume=7\r\n"));
        QCOMPARE(Mod_INI::GetIniValue(path, "MessageInterval", "30", "Settings"), QString("7"));
    }

    void iniFilePath() {
        QCOMPARE(Mod_INI::IniFilePath(),
                 QCoreApplication::applicationDirPath() + "/tst_settings.ini");
    }
};

QTEST_GUILESS_MAIN(IniTest)
#include "tst_ini.moc"
