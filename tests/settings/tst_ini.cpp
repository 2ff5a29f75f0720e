#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

#include "settings/Mod_INI.h"

namespace {

// One PutIniValue call: key, value, section.
using Puts = QList<QStringList>;

QStringList Put(const QString& key, const QString& value,
                const QString& section = QStringLiteral("Settings")) {
    return {key, value, section};
}

bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList EntriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

bool RunningAsRoot() {
    return ::geteuid() == 0;
}

}  // namespace

class IniTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void likeMatch_data();
    void likeMatch();
    void classifyLine_data();
    void classifyLine();
    void headerName_data();
    void headerName();
    void splitLines_data();
    void splitLines();

    void getIniValue_data();
    void getIniValue();
    void getIniValueWithoutFile_data();
    void getIniValueWithoutFile();
    void getIniValueUnreadable_data();
    void getIniValueUnreadable();

    void putIniValue_data();
    void putIniValue();
    void putIniValueFailure_data();
    void putIniValueFailure();

    void iniFilePath();
    void emptyFileNameUsesDefaultFile();

private:
    QString IniPath() const { return dir_->filePath(QStringLiteral("settings.ini")); }

    std::unique_ptr<QTemporaryDir> dir_;
};

void IniTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void IniTest::cleanup() {
    // A failed row may leave a folder without permissions behind.
    QFile::setPermissions(dir_->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    dir_.reset();
}

void IniTest::likeMatch_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<bool>("expected");

    QTest::newRow("equal") << QByteArray("Settings") << QByteArray("Settings") << true;
    QTest::newRow("case differs") << QByteArray("settings") << QByteArray("Settings") << false;
    QTest::newRow("pattern is a prefix")
        << QByteArray("Settings") << QByteArray("Setting") << false;
    QTest::newRow("pattern is a suffix")
        << QByteArray("Settings") << QByteArray("ettings") << false;
    QTest::newRow("both empty") << QByteArray() << QByteArray() << true;
    QTest::newRow("empty pattern") << QByteArray("x") << QByteArray() << false;
    QTest::newRow("question mark") << QByteArray("Settings") << QByteArray("S?ttings") << true;
    QTest::newRow("question mark needs a character")
        << QByteArray("Sttings") << QByteArray("S?ttings") << false;
    QTest::newRow("question mark on empty") << QByteArray() << QByteArray("?") << false;
    QTest::newRow("question mark, any byte")
        << QByteArray("\xe9t\xe9") << QByteArray("?t?") << true;
    QTest::newRow("star at end") << QByteArray("Settings") << QByteArray("Set*") << true;
    QTest::newRow("star for nothing") << QByteArray("Set") << QByteArray("Set*") << true;
    QTest::newRow("star alone on empty") << QByteArray() << QByteArray("*") << true;
    QTest::newRow("star in middle") << QByteArray("Settings") << QByteArray("S*s") << true;
    QTest::newRow("star, wrong end") << QByteArray("Settingx") << QByteArray("S*s") << false;
    QTest::newRow("star back-tracks") << QByteArray("aaab") << QByteArray("*ab") << true;
    QTest::newRow("stars in order") << QByteArray("aXbYc") << QByteArray("a*b*c") << true;
    QTest::newRow("stars, wrong order") << QByteArray("acb") << QByteArray("a*b*c") << false;
    QTest::newRow("digits") << QByteArray("Section12") << QByteArray("Section##") << true;
    QTest::newRow("digit sign, letters")
        << QByteArray("SectionAB") << QByteArray("Section##") << false;
    QTest::newRow("digit sign needs a digit")
        << QByteArray("Section1") << QByteArray("Section##") << false;
    QTest::newRow("list") << QByteArray("Sb") << QByteArray("S[abc]") << true;
    QTest::newRow("list, not in it") << QByteArray("Sd") << QByteArray("S[abc]") << false;
    QTest::newRow("list is one character") << QByteArray("Sab") << QByteArray("S[abc]") << false;
    QTest::newRow("list is case-sensitive") << QByteArray("SB") << QByteArray("S[abc]") << false;
    QTest::newRow("negated list") << QByteArray("Sd") << QByteArray("S[!abc]") << true;
    QTest::newRow("negated list, in it") << QByteArray("Sa") << QByteArray("S[!abc]") << false;
    QTest::newRow("range") << QByteArray("S5") << QByteArray("S[0-9]") << true;
    QTest::newRow("range, low end") << QByteArray("Sa") << QByteArray("S[a-f]") << true;
    QTest::newRow("range, high end") << QByteArray("Sf") << QByteArray("S[a-f]") << true;
    QTest::newRow("range, outside") << QByteArray("Sg") << QByteArray("S[a-f]") << false;
    QTest::newRow("range, hyphen is no member")
        << QByteArray("S-") << QByteArray("S[a-f]") << false;
    QTest::newRow("range, other case") << QByteArray("SC") << QByteArray("S[a-f]") << false;
    QTest::newRow("negated range") << QByteArray("Sz") << QByteArray("S[!a-f]") << true;
    QTest::newRow("range and list") << QByteArray("Sx") << QByteArray("S[a-cx]") << true;
    QTest::newRow("dot is literal") << QByteArray("aXb") << QByteArray("a.b") << false;
    QTest::newRow("dot matches dot") << QByteArray("a.b") << QByteArray("a.b") << true;
    QTest::newRow("plus and parentheses are literal")
        << QByteArray("(a+b)") << QByteArray("(a+b)") << true;
    QTest::newRow("backslash is literal") << QByteArray("a\\b") << QByteArray("a\\b") << true;
    QTest::newRow("space is literal")
        << QByteArray("My Settings") << QByteArray("My Settings") << true;
    QTest::newRow("closing bracket in text")
        << QByteArray("Settings]") << QByteArray("Settings]") << true;
    QTest::newRow("unclosed bracket is literal")
        << QByteArray("[abc") << QByteArray("[abc") << true;
}

void IniTest::likeMatch() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, pattern);
    QFETCH(bool, expected);
    QCOMPARE(Mod_INI::LikeMatch(text, pattern), expected);
}

void IniTest::classifyLine_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("expected");

    const int comment = int(Mod_INI::LineKind::Comment);
    const int header = int(Mod_INI::LineKind::Header);
    const int other = int(Mod_INI::LineKind::Other);
    QTest::newRow("REM") << QByteArray("REM a note") << comment;
    QTest::newRow("rem") << QByteArray("rem") << comment;
    QTest::newRow("Rem, mixed case") << QByteArray("rEm=1") << comment;
    QTest::newRow("Remote=1") << QByteArray("Remote=1") << comment;
    QTest::newRow("REM before a bracket") << QByteArray("REM[Settings]") << comment;
    QTest::newRow("too short for REM") << QByteArray("re") << other;
    QTest::newRow("REM not at start") << QByteArray(" REM") << other;
    QTest::newRow("quote") << QByteArray("'note") << comment;
    QTest::newRow("quote alone") << QByteArray("'") << comment;
    QTest::newRow("quote before a bracket") << QByteArray("'[Settings]") << comment;
    QTest::newRow("header") << QByteArray("[Settings]") << header;
    QTest::newRow("bracket alone") << QByteArray("[") << header;
    QTest::newRow("header holding REM") << QByteArray("[REM]") << header;
    QTest::newRow("indented header") << QByteArray(" [Settings]") << other;
    QTest::newRow("key line") << QByteArray("MessageInterval=30") << other;
    QTest::newRow("semicolon is no comment") << QByteArray(";note=1") << other;
    QTest::newRow("blank") << QByteArray() << other;
}

void IniTest::classifyLine() {
    QFETCH(QByteArray, line);
    QFETCH(int, expected);
    QCOMPARE(int(Mod_INI::ClassifyLine(line)), expected);
}

void IniTest::headerName_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("plain") << QByteArray("[Settings]") << QByteArray("Settings");
    QTest::newRow("trailing space") << QByteArray("[Settings] ") << QByteArray("Settings]");
    QTest::newRow("no closing bracket") << QByteArray("[Settings") << QByteArray("Setting");
    QTest::newRow("inner spaces kept")
        << QByteArray("[ My Settings ]") << QByteArray(" My Settings ");
    QTest::newRow("empty name") << QByteArray("[]") << QByteArray("");
    QTest::newRow("bracket alone") << QByteArray("[") << QByteArray("");
    QTest::newRow("one character") << QByteArray("[x]") << QByteArray("x");
}

void IniTest::headerName() {
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, expected);
    QCOMPARE(Mod_INI::HeaderName(line), expected);
}

void IniTest::splitLines_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<QByteArray>>("expected");

    using Lines = QList<QByteArray>;
    QTest::newRow("empty") << QByteArray() << Lines{};
    QTest::newRow("one line, no end") << QByteArray("a") << Lines{"a"};
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << Lines{"a", "b"};
    QTest::newRow("last line without end") << QByteArray("a\r\nb") << Lines{"a", "b"};
    QTest::newRow("lone CR") << QByteArray("a\rb") << Lines{"a", "b"};
    QTest::newRow("lone LF") << QByteArray("a\nb\n") << Lines{"a", "b"};
    QTest::newRow("blank lines kept") << QByteArray("a\r\n\r\n\r\nb") << Lines{"a", "", "", "b"};
    QTest::newRow("only a line end") << QByteArray("\r\n") << Lines{""};
    QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb") << Lines{"a", "", "b"};
    QTest::newRow("CR before CR LF") << QByteArray("a\r\r\nb") << Lines{"a", "", "b"};
    QTest::newRow("bytes kept") << QByteArray("caf\xe9 \t=x\r\n") << Lines{"caf\xe9 \t=x"};
}

void IniTest::splitLines() {
    QFETCH(QByteArray, content);
    QFETCH(QList<QByteArray>, expected);
    QCOMPARE(Mod_INI::SplitLines(content), expected);
}

void IniTest::getIniValue_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("expected");

    const QString settings = QStringLiteral("Settings");
    const QString whole;
    const QString fallback = QStringLiteral("default");
    QTest::newRow("found") << QByteArray("[Settings]\r\nA=1\r\n") << "A" << settings << "1";
    QTest::newRow("missing key") << QByteArray("[Settings]\r\nA=1\r\n") << "B" << settings
                                 << fallback;
    QTest::newRow("empty file") << QByteArray() << "A" << settings << fallback;
    QTest::newRow("first match wins")
        << QByteArray("[Settings]\r\nA=1\r\nA=2\r\n") << "A" << settings << "1";
    QTest::newRow("key in lower case in file") << QByteArray("[Settings]\r\nmessageinterval=45\r\n")
                                               << "MessageInterval" << settings << "45";
    QTest::newRow("key in upper case in file") << QByteArray("[Settings]\r\nMESSAGEINTERVAL=45\r\n")
                                               << "messageInterval" << settings << "45";
    QTest::newRow("spaces around = are part of the key")
        << QByteArray("[Settings]\r\nMessageInterval = 45\r\n") << "MessageInterval" << settings
        << fallback;
    QTest::newRow("key with its space, value with its space")
        << QByteArray("[Settings]\r\nMessageInterval = 45\r\n") << "MessageInterval " << settings
        << " 45";
    QTest::newRow("leading space is part of the key")
        << QByteArray("[Settings]\r\n A=1\r\n") << "A" << settings << fallback;
    QTest::newRow("value holding =")
        << QByteArray("[Settings]\r\nA=4=5\r\n") << "A" << settings << "4=5";
    QTest::newRow("empty value is no default")
        << QByteArray("[Settings]\r\nA=\r\nA=2\r\n") << "A" << settings << "";
    QTest::newRow("trailing spaces kept")
        << QByteArray("[Settings]\r\nA=1  \r\n") << "A" << settings << "1  ";
    QTest::newRow("line without =")
        << QByteArray("[Settings]\r\nA\r\nA=2\r\n") << "A" << settings << "2";
    QTest::newRow("key above first header")
        << QByteArray("A=1\r\n[Settings]\r\nB=2\r\n") << "A" << settings << fallback;
    QTest::newRow("whole file, above first header")
        << QByteArray("A=1\r\n[Settings]\r\nB=2\r\n") << "A" << whole << "1";
    QTest::newRow("whole file, any section")
        << QByteArray("A=1\r\n[Other]\r\nB=2\r\n") << "B" << whole << "2";
    QTest::newRow("key in another section")
        << QByteArray("[Other]\r\nA=1\r\n[Settings]\r\nB=2\r\n") << "A" << settings << fallback;
    QTest::newRow("section ends at next header")
        << QByteArray("[Settings]\r\nB=2\r\n[Other]\r\nA=1\r\n") << "A" << settings << fallback;
    QTest::newRow("section occurring twice")
        << QByteArray("[Settings]\r\nA=1\r\n[Other]\r\nB=2\r\n[Settings]\r\nB=3\r\n") << "B"
        << settings << "3";
    QTest::newRow("header in lower case")
        << QByteArray("[settings]\r\nA=1\r\n") << "A" << settings << fallback;
    QTest::newRow("header with trailing space")
        << QByteArray("[Settings] \r\nA=1\r\n") << "A" << settings << fallback;
    QTest::newRow("header is the pattern")
        << QByteArray("[Set*]\r\nA=1\r\n") << "A" << settings << "1";
    QTest::newRow("header pattern with digit") << QByteArray("[Channel#]\r\nA=1\r\n") << "A"
                                               << "Channel2"
                                               << "1";
    QTest::newRow("requested section is no pattern") << QByteArray("[Settings]\r\nA=1\r\n") << "A"
                                                     << "Set*" << fallback;
    QTest::newRow("bracket alone names no Settings")
        << QByteArray("[\r\nA=1\r\n") << "A" << settings << fallback;
    QTest::newRow("Remote=1 is a comment")
        << QByteArray("[Settings]\r\nRemote=1\r\n") << "Remote" << settings << fallback;
    QTest::newRow("rem in lower case is a comment")
        << QByteArray("[Settings]\r\nrem=1\r\n") << "rem" << settings << fallback;
    QTest::newRow("quote comment")
        << QByteArray("[Settings]\r\n'A=1\r\n") << "'A" << settings << fallback;
    QTest::newRow("commented header keeps the section")
        << QByteArray("[Settings]\r\n'[Other]\r\nA=1\r\n") << "A" << settings << "1";
    QTest::newRow("commented header opens no section")
        << QByteArray("[Other]\r\nrem [Settings]\r\nA=1\r\n") << "A" << settings << fallback;
    QTest::newRow("lone LF") << QByteArray("[Settings]\nA=1\nB=2\n") << "A" << settings << "1";
    QTest::newRow("lone CR") << QByteArray("[Settings]\rA=1\rB=2") << "B" << settings << "2";
    QTest::newRow("last line without end")
        << QByteArray("[Settings]\r\nA=1") << "A" << settings << "1";
    QTest::newRow("other bytes before")
        << QByteArray("\xe9\xe9=1\r\n[Settings]\r\nA=1\r\n") << "A" << settings << "1";
}

void IniTest::getIniValue() {
    QFETCH(QByteArray, content);
    QFETCH(QString, key);
    QFETCH(QString, section);
    QFETCH(QString, expected);

    QVERIFY(WriteBytes(IniPath(), content));
    QCOMPARE(Mod_INI::GetIniValue(IniPath(), key, QStringLiteral("default"), section), expected);
    // Reading never changes the file.
    QCOMPARE(ReadBytes(IniPath()), content);
}

void IniTest::getIniValueWithoutFile_data() {
    QTest::addColumn<QString>("relativePath");

    QTest::newRow("missing file") << "settings.ini";
    QTest::newRow("missing folder") << "gone/settings.ini";
    QTest::newRow("below a file") << "plain.txt/settings.ini";
}

void IniTest::getIniValueWithoutFile() {
    QFETCH(QString, relativePath);
    QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("plain.txt")), "A=1\r\n"));
    const QString path = dir_->filePath(relativePath);
    QCOMPARE(Mod_INI::GetIniValue(path, "A", "30", "Settings"), QStringLiteral("30"));
    QCOMPARE(Mod_INI::GetIniValue(path, "A", "30", ""), QStringLiteral("30"));
    QVERIFY(!QFileInfo::exists(path));
}

void IniTest::getIniValueUnreadable_data() {
    QTest::addColumn<bool>("folderInPlace");

    // Permissions do not stop root, a folder in the file's place stops everybody.
    QTest::newRow("folder in place of the file") << true;
    QTest::newRow("no read permission") << false;
}

void IniTest::getIniValueUnreadable() {
    QFETCH(bool, folderInPlace);
    if (folderInPlace) {
        QVERIFY(QDir().mkpath(IniPath()));
    } else {
        if (RunningAsRoot()) {
            QSKIP("root reads files without read permission");
        }
        QVERIFY(WriteBytes(IniPath(), "[Settings]\r\nA=1\r\n"));
        QVERIFY(QFile::setPermissions(IniPath(), QFileDevice::WriteOwner));
    }
    QCOMPARE(Mod_INI::GetIniValue(IniPath(), "A", "30", "Settings"), QStringLiteral("30"));
    QCOMPARE(Mod_INI::GetIniValue(IniPath(), "A", "30", ""), QStringLiteral("30"));
}

void IniTest::putIniValue_data() {
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Puts>("puts");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("four settings into a missing file")
        << false << QByteArray()
        << Puts{Put("MessageInterval", "30"), Put("MusicVolumeHigh", "100"),
                Put("MusicVolumeLow", "10"), Put("MessageVolume", "100")}
        << QByteArray(
               "[Settings]\r\nMessageInterval=30\r\nMusicVolumeHigh=100\r\n"
               "MusicVolumeLow=10\r\nMessageVolume=100\r\n");
    QTest::newRow("four settings into an existing file, in place")
        << true
        << QByteArray(
               "[Settings]\r\nMessageVolume=1\r\nMusicVolumeLow=2\r\n"
               "MusicVolumeHigh=3\r\nMessageInterval=4\r\n")
        << Puts{Put("MessageInterval", "-5"), Put("MusicVolumeHigh", "90"),
                Put("MusicVolumeLow", "0"), Put("MessageVolume", "75")}
        << QByteArray(
               "[Settings]\r\nMessageVolume=75\r\nMusicVolumeLow=0\r\n"
               "MusicVolumeHigh=90\r\nMessageInterval=-5\r\n");
    QTest::newRow("empty file") << true << QByteArray() << Puts{Put("A", "1")}
                                << QByteArray("[Settings]\r\nA=1\r\n");
    QTest::newRow("missing file, whole-file section")
        << false << QByteArray() << Puts{Put("A", "1", "")} << QByteArray("A=1\r\n");
    QTest::newRow("replaced in place")
        << true << QByteArray("[Settings]\r\nA=1\r\nB=2\r\nC=3\r\n") << Puts{Put("B", "9")}
        << QByteArray("[Settings]\r\nA=1\r\nB=9\r\nC=3\r\n");
    QTest::newRow("duplicates both replaced")
        << true << QByteArray("[Settings]\r\nA=1\r\nB=2\r\na=3\r\n") << Puts{Put("A", "9")}
        << QByteArray("[Settings]\r\nA=9\r\nB=2\r\nA=9\r\n");
    QTest::newRow("key written as the caller spells it")
        << true << QByteArray("[Settings]\r\nmessageinterval=45\r\n")
        << Puts{Put("MessageInterval", "60")} << QByteArray("[Settings]\r\nMessageInterval=60\r\n");
    QTest::newRow("value holding = replaced whole")
        << true << QByteArray("[Settings]\r\nA=4=5\r\n") << Puts{Put("A", "6")}
        << QByteArray("[Settings]\r\nA=6\r\n");
    QTest::newRow("empty value") << true << QByteArray("[Settings]\r\nA=1\r\n")
                                 << Puts{Put("A", "")} << QByteArray("[Settings]\r\nA=\r\n");
    QTest::newRow("line without = kept")
        << true << QByteArray("[Settings]\r\njunk line\r\nA=1\r\n") << Puts{Put("A", "2")}
        << QByteArray("[Settings]\r\njunk line\r\nA=2\r\n");
    QTest::newRow("section ends with blank lines")
        << true << QByteArray("[Settings]\r\nA=1\r\n\r\n\r\n[Other]\r\nB=2\r\n")
        << Puts{Put("C", "3")}
        << QByteArray("[Settings]\r\nA=1\r\n\r\n\r\nC=3\r\n[Other]\r\nB=2\r\n");
    QTest::newRow("section ends with a comment")
        << true << QByteArray("[Settings]\r\nA=1\r\nREM end\r\n[Other]\r\n") << Puts{Put("C", "3")}
        << QByteArray("[Settings]\r\nA=1\r\nREM end\r\nC=3\r\n[Other]\r\n");
    QTest::newRow("empty section before another")
        << true << QByteArray("[Settings]\r\n[Other]\r\n") << Puts{Put("A", "1")}
        << QByteArray("[Settings]\r\nA=1\r\n[Other]\r\n");
    QTest::newRow("last section") << true << QByteArray("[Other]\r\nB=2\r\n[Settings]\r\nA=1\r\n")
                                  << Puts{Put("C", "3")}
                                  << QByteArray("[Other]\r\nB=2\r\n[Settings]\r\nA=1\r\nC=3\r\n");
    QTest::newRow("last section ends with a blank line")
        << true << QByteArray("[Settings]\r\nA=1\r\n\r\n") << Puts{Put("C", "3")}
        << QByteArray("[Settings]\r\nA=1\r\n\r\nC=3\r\n");
    QTest::newRow("section occurring twice, added to the first")
        << true << QByteArray("[Settings]\r\nA=1\r\n[Other]\r\n[Settings]\r\nB=2\r\n")
        << Puts{Put("C", "3")}
        << QByteArray("[Settings]\r\nA=1\r\nC=3\r\n[Other]\r\n[Settings]\r\nB=2\r\n");
    QTest::newRow("missing section")
        << true << QByteArray("[Other]\r\nB=2\r\n") << Puts{Put("A", "1")}
        << QByteArray("[Other]\r\nB=2\r\n[Settings]\r\nA=1\r\n");
    QTest::newRow("key only in another section")
        << true << QByteArray("[Other]\r\nA=1\r\n") << Puts{Put("A", "2")}
        << QByteArray("[Other]\r\nA=1\r\n[Settings]\r\nA=2\r\n");
    QTest::newRow("header in lower case is another section")
        << true << QByteArray("[settings]\r\nA=1\r\n") << Puts{Put("A", "2")}
        << QByteArray("[settings]\r\nA=1\r\n[Settings]\r\nA=2\r\n");
    QTest::newRow("header with trailing space is another section")
        << true << QByteArray("[Settings] \r\nA=1\r\n") << Puts{Put("A", "2")}
        << QByteArray("[Settings] \r\nA=1\r\n[Settings]\r\nA=2\r\n");
    QTest::newRow("bracket alone is another section")
        << true << QByteArray("[\r\nA=1\r\n") << Puts{Put("A", "9")}
        << QByteArray("[\r\nA=1\r\n[Settings]\r\nA=9\r\n");
    QTest::newRow("spaces around = make another key")
        << true << QByteArray("[Settings]\r\nMessageInterval = 45\r\n")
        << Puts{Put("MessageInterval", "60")}
        << QByteArray("[Settings]\r\nMessageInterval = 45\r\nMessageInterval=60\r\n");
    QTest::newRow("key above first header kept")
        << true << QByteArray("A=1\r\n[Settings]\r\nB=2\r\n") << Puts{Put("A", "9")}
        << QByteArray("A=1\r\n[Settings]\r\nB=2\r\nA=9\r\n");
    QTest::newRow("Remote=1 is never replaced")
        << true << QByteArray("[Settings]\r\nRemote=1\r\n") << Puts{Put("Remote", "2")}
        << QByteArray("[Settings]\r\nRemote=1\r\nRemote=2\r\n");
    QTest::newRow("commented header keeps the section")
        << true << QByteArray("[Settings]\r\n'[Other]\r\nA=1\r\n") << Puts{Put("A", "2")}
        << QByteArray("[Settings]\r\n'[Other]\r\nA=2\r\n");
    QTest::newRow("whole file, every occurrence")
        << true << QByteArray("A=1\r\n[Other]\r\na=2\r\n") << Puts{Put("A", "9", "")}
        << QByteArray("A=9\r\n[Other]\r\nA=9\r\n");
    QTest::newRow("section as pattern")
        << true << QByteArray("[Settings]\r\nA=1\r\n") << Puts{Put("A", "9", "Set*")}
        << QByteArray("[Settings]\r\nA=9\r\n");
    QTest::newRow("header is no pattern when writing")
        << true << QByteArray("[Set*]\r\nA=1\r\n") << Puts{Put("A", "9")}
        << QByteArray("[Set*]\r\nA=1\r\n[Settings]\r\nA=9\r\n");
    QTest::newRow("last line without end, replaced")
        << true << QByteArray("[Settings]\r\nA=1") << Puts{Put("A", "2")}
        << QByteArray("[Settings]\r\nA=2\r\n");
    QTest::newRow("last line without end, added")
        << true << QByteArray("[Settings]\r\nA=1") << Puts{Put("B", "2")}
        << QByteArray("[Settings]\r\nA=1\r\nB=2\r\n");
    QTest::newRow("other bytes kept")
        << true << QByteArray("; caf\xe9\r\n[Settings]\r\nName=caf\xe9\r\n\xe9=\xff\r\nA=1\r\n")
        << Puts{Put("A", "2")}
        << QByteArray("; caf\xe9\r\n[Settings]\r\nName=caf\xe9\r\n\xe9=\xff\r\nA=2\r\n");
    QTest::newRow("tabs and spaces kept")
        << true << QByteArray("\t[x] \r\n[Settings]\r\n  \r\nB = 2 \r\nA=1\r\n")
        << Puts{Put("A", "2")} << QByteArray("\t[x] \r\n[Settings]\r\n  \r\nB = 2 \r\nA=2\r\n");
    QTest::newRow("lone LF rewritten as CR LF")
        << true << QByteArray("[Settings]\nA=1\nB=2\n") << Puts{Put("A", "9")}
        << QByteArray("[Settings]\r\nA=9\r\nB=2\r\n");
    QTest::newRow("lone CR rewritten as CR LF")
        << true << QByteArray("[Settings]\rA=1\r") << Puts{Put("A", "9")}
        << QByteArray("[Settings]\r\nA=9\r\n");
}

void IniTest::putIniValue() {
    QFETCH(bool, fileExists);
    QFETCH(QByteArray, content);
    QFETCH(Puts, puts);
    QFETCH(QByteArray, expected);

    if (fileExists) {
        QVERIFY(WriteBytes(IniPath(), content));
    }
    for (const QStringList& put : puts) {
        Mod_INI::PutIniValue(IniPath(), put[0], put[1], put[2]);
    }
    QCOMPARE(ReadBytes(IniPath()), expected);
    // The rewrite leaves no temporary file behind.
    QCOMPARE(EntriesOf(dir_->path()), QStringList{QStringLiteral("settings.ini")});
}

void IniTest::putIniValueFailure_data() {
    QTest::addColumn<QString>("situation");

    QTest::newRow("write fails part-way") << "size limit";
    QTest::newRow("folder in place of the file") << "folder in place";
    QTest::newRow("folder of the file is a file") << "folder is a file";
    QTest::newRow("read-only folder") << "read-only folder";
    QTest::newRow("file without read permission") << "unreadable";
}

void IniTest::putIniValueFailure() {
    QFETCH(QString, situation);

    const QByteArray old("[Settings]\r\nMessageInterval=45\r\nMessageVolume=80\r\n");
    const QString plain = dir_->filePath(QStringLiteral("plain.txt"));
    QString checked = IniPath();  // the file whose content must survive

    if (situation == u"size limit") {
        // A file-size limit stops the writing of the new content even for root, as a full disk
        // would. A writer that empties the file first would lose it here.
        QVERIFY(WriteBytes(IniPath(), old));
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit limited = saved;
        limited.rlim_cur = 16;
        const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limited) == 0);
        const bool probeWritten = WriteBytes(dir_->filePath(QStringLiteral("probe")), old);
        Mod_INI::PutIniValue(IniPath(), "MessageInterval", "600", "Settings");
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);
        QVERIFY2(!probeWritten, "the size limit did not stop a plain write");
        QVERIFY(QFile::remove(dir_->filePath(QStringLiteral("probe"))));
    } else if (situation == u"folder in place") {
        QVERIFY(QDir().mkpath(IniPath()));
        Mod_INI::PutIniValue(IniPath(), "MessageInterval", "600", "Settings");
        QVERIFY(QFileInfo(IniPath()).isDir());
        QVERIFY(EntriesOf(IniPath()).isEmpty());
        checked.clear();
    } else if (situation == u"folder is a file") {
        QVERIFY(WriteBytes(plain, old));
        checked = plain;
        Mod_INI::PutIniValue(plain + QStringLiteral("/settings.ini"), "MessageInterval", "600",
                             "Settings");
    } else if (situation == u"read-only folder") {
        if (RunningAsRoot()) {
            QSKIP("root writes into read-only folders");
        }
        QVERIFY(WriteBytes(IniPath(), old));
        QVERIFY(QFile::setPermissions(dir_->path(), QFile::ReadOwner | QFile::ExeOwner));
        Mod_INI::PutIniValue(IniPath(), "MessageInterval", "600", "Settings");
        QVERIFY(QFile::setPermissions(dir_->path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    } else if (situation == u"unreadable") {
        if (RunningAsRoot()) {
            QSKIP("root reads files without read permission");
        }
        // Rewriting what could not be read would drop every other setting.
        QVERIFY(WriteBytes(IniPath(), old));
        QVERIFY(QFile::setPermissions(IniPath(), QFile::WriteOwner));
        Mod_INI::PutIniValue(IniPath(), "MessageInterval", "600", "Settings");
        QVERIFY(QFile::setPermissions(IniPath(), QFile::ReadOwner | QFile::WriteOwner));
    } else {
        QFAIL("unknown situation");
    }

    if (!checked.isEmpty()) {
        QCOMPARE(ReadBytes(checked), old);
    }
    // Nothing half-written is left beside it.
    const QStringList entries = EntriesOf(dir_->path());
    QVERIFY2(entries.size() == 1, qPrintable(entries.join(u' ')));

    // Once the obstacle is gone, writing works again.
    if (situation == u"size limit") {
        Mod_INI::PutIniValue(IniPath(), "MessageInterval", "600", "Settings");
        QCOMPARE(ReadBytes(IniPath()),
                 QByteArray("[Settings]\r\nMessageInterval=600\r\nMessageVolume=80\r\n"));
    }
}

void IniTest::iniFilePath() {
    const QString path = Mod_INI::IniFilePath();
    const QString folder = QCoreApplication::applicationDirPath();
    QCOMPARE(path, folder + QStringLiteral("/tst_settings.ini"));
    QCOMPARE(QFileInfo(path).absolutePath(), folder);
    QVERIFY2(!path.contains(QStringLiteral("//")), qPrintable(path));
}

void IniTest::emptyFileNameUsesDefaultFile() {
    const QString path = Mod_INI::IniFilePath();
    if (!QFileInfo(QFileInfo(path).absolutePath()).isWritable()) {
        QSKIP("the test program's folder is not writable");
    }
    const QString backup = path + QStringLiteral(".corvane-test-backup");
    const bool hadFile = QFileInfo::exists(path);
    if (hadFile) {
        QFile::remove(backup);
        QVERIFY(QFile::rename(path, backup));
    }

    Mod_INI::PutIniValue(QString(), "MessageInterval", "77", "Settings");
    const QByteArray written = ReadBytes(path);
    const QString read = Mod_INI::GetIniValue(QString(), "MessageInterval", "30", "Settings");

    QFile::remove(path);
    if (hadFile) {
        QVERIFY(QFile::rename(backup, path));
    }
    QCOMPARE(written, QByteArray("[Settings]\r\nMessageInterval=77\r\n"));
    QCOMPARE(read, QStringLiteral("77"));
}

QTEST_GUILESS_MAIN(IniTest)
#include "tst_ini.moc"
