#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <climits>
#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "MediaFixtures.h"
#include "audio/Mod_MCI.h"
#include "platform/mci/commandline.h"
#include "platform/mci/mci.h"

using namespace Mod_MCI;
using Platform::Mci::MciError;

// One call into the channel layer, its result turned into text so that every row of a table can
// compare it the same way.
using Call = std::function<QString()>;
Q_DECLARE_METATYPE(Call)

namespace {

constexpr int kOpenField = 255;
constexpr int kCommandField = 128;
constexpr char kOpenTail[] = " type MPEGVideo Alias ZEL0 parent 460 Style 1073741824";

// Fields are counted in bytes of the command as sent, not in characters.
QString Padded(const QString& command, int field) {
    const auto bytes = static_cast<int>(command.toUtf8().size());
    return bytes < field ? command + QString(field - bytes, u' ') : command;
}

QString ErrorText(MciError code) {
    char text[128] = {};
    Platform::Mci::mciGetErrorString(code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

struct Scripted {
    MciError code = Platform::Mci::kNoError;
    std::string reply;
};

}  // namespace

class ModMciTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void examples_data();
    void examples();
    void fieldPadding_data();
    void fieldPadding();
    void openFileName_data();
    void openFileName();
    void openRefusesUnsafeName_data();
    void openRefusesUnsafeName();
    void openLongPathIsSentWhole();
    void setVolume_data();
    void setVolume();
    void getVolume_data();
    void getVolume();
    void getLength_data();
    void getLength();
    void play_data();
    void play();
    void getMode_data();
    void getMode();
    void statusText_data();
    void statusText();
    void everyErrorHasItsOwnText();
    void noServiceInstalled();

private:
    QStringList Sent() const;
    void Answer(const std::string& command, MciError code, const std::string& reply = {});

    QTemporaryDir dir_;
    QString song_;
    Platform::Mci::Recorder* recorder_ = nullptr;
    std::unique_ptr<Platform::Mci::Service> previous_;
    std::map<std::string, Scripted> answers_;  // keyed by the command without its padding
};

void ModMciTest::initTestCase() {
    QVERIFY(dir_.isValid());
    // There are no short names here: the name in the open command is the existing path itself.
    song_ = dir_.filePath(QStringLiteral("SONG1.MP3"));
    QVERIFY(MediaFixtures::MakeFile(song_, "not decoded by the recorder"));
}

void ModMciTest::init() {
    answers_.clear();
    auto recorder = std::make_unique<Platform::Mci::Recorder>(
        [this](std::string_view command, std::string& reply) -> MciError {
            std::string key(command);
            key.erase(key.find_last_not_of(' ') + 1);
            const auto found = answers_.find(key);
            if (found == answers_.end()) {
                return Platform::Mci::kNoError;
            }
            reply = found->second.reply;
            return found->second.code;
        });
    recorder_ = recorder.get();
    previous_ = Platform::Mci::SetService(std::move(recorder));
}

void ModMciTest::cleanup() {
    Platform::Mci::SetService(std::move(previous_));
    recorder_ = nullptr;
}

QStringList ModMciTest::Sent() const {
    QStringList sent;
    for (const std::string& command : recorder_->Commands()) {
        sent << QString::fromStdString(command);
    }
    return sent;
}

void ModMciTest::Answer(const std::string& command, MciError code, const std::string& reply) {
    answers_[command] = Scripted{code, reply};
}

void ModMciTest::examples_data() {
    QTest::addColumn<Call>("call");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("result");

    const QString song = song_;
    const QString missing = dir_.filePath(QStringLiteral("NOSUCH.MP3"));
    QTest::newRow("open") << Call([song] { return MciOpen(460, "ZEL0", song, "MPEGVideo"); })
                          << QStringList{Padded("open " + song + kOpenTail, kOpenField)}
                          << "Success";
    QTest::newRow("open missing file")
        << Call([missing] { return MciOpen(460, "ZEL0", missing, "MPEGVideo"); })
        << QStringList{Padded(QStringLiteral("open ") + kOpenTail, kOpenField)} << "Success";
    QTest::newRow("play to the length")
        << Call([] { return MciPlay("ZEL0", "", ""); })
        << QStringList{"set ZEL0 time format frames", "status ZEL0 length",
                       Padded("play ZEL0 from 0 to 750", kCommandField)}
        << "Success";
    QTest::newRow("play 10 to 20")
        << Call([] { return MciPlay("ZEL0", "10", "20"); })
        << QStringList{Padded("play ZEL0 from 10 to 20", kCommandField)} << "Success";
    QTest::newRow("close") << Call([] { return MciClose("ZEL0"); }) << QStringList{"Close ZEL0"}
                           << "Success";
    QTest::newRow("close all") << Call([] { return MciCloseAll(); }) << QStringList{"Close All"}
                               << "Success";
    QTest::newRow("mode") << Call([] { return MciGetMode("ZEL0"); })
                          << QStringList{"status ZEL0 mode"} << "playing";
    QTest::newRow("length") << Call([] { return QString::number(MciGetLength("ZEL0")); })
                            << QStringList{"set ZEL0 time format frames", "status ZEL0 length"}
                            << "750";
    QTest::newRow("set volume Both")
        << Call([] { return MciSetVolume("ZEL0", "Both", 50); })
        << QStringList{Padded("setaudio ZEL0 Volume to 500", kCommandField)} << "Success";
    QTest::newRow("set volume Left")
        << Call([] { return MciSetVolume("ZEL0", "Left", 50); })
        << QStringList{Padded("setaudio ZEL0 Left Volume to 500", kCommandField)} << "Success";
    QTest::newRow("get volume both")
        << Call([] { return QString::number(MciGetVolume("ZEL0", "both")); })
        << QStringList{Padded("status ZEL0 Volume", kCommandField)} << "50";
    QTest::newRow("get volume right")
        << Call([] { return QString::number(MciGetVolume("ZEL0", "right")); })
        << QStringList{Padded("status ZEL0 right Volume", kCommandField)} << "40";
}

void ModMciTest::examples() {
    QFETCH(Call, call);
    QFETCH(QStringList, sent);
    QFETCH(QString, result);

    Answer("status ZEL0 length", 0, "750");
    Answer("status ZEL0 mode", 0, "playing");
    Answer("status ZEL0 Volume", 0, "500");
    Answer("status ZEL0 right Volume", 0, "400");
    QCOMPARE(call(), result);
    QCOMPARE(Sent(), sent);
}

void ModMciTest::fieldPadding_data() {
    QTest::addColumn<Call>("call");
    QTest::addColumn<QList<int>>("lengths");

    const QString song = song_;
    const QString alias100(100, u'A');
    const QString alias200(200, u'A');
    QTest::newRow("open") << Call([song] { return MciOpen(460, "ZEL0", song, "MPEGVideo"); })
                          << QList<int>{kOpenField};
    QTest::newRow("open, long alias beyond the field")
        << Call([song, alias200] { return MciOpen(460, alias200, song, "MPEGVideo"); })
        << QList<int>{int(QString("open " + song + kOpenTail).size()) - 4 + 200};
    QTest::newRow("play") << Call([] { return MciPlay("ZEL0", "1", "2"); })
                          << QList<int>{kCommandField};
    QTest::newRow("play without positions")
        << Call([] { return MciPlay("ZEL0", "", ""); }) << QList<int>{27, 18, kCommandField};
    // "play " + 100 characters + " from 1 to " is 116 characters; twelve more fill the field.
    QTest::newRow("play just short of the field")
        << Call([alias100] { return MciPlay(alias100, "1", QString(11, u'2')); })
        << QList<int>{kCommandField};
    QTest::newRow("play filling the field")
        << Call([alias100] { return MciPlay(alias100, "1", QString(12, u'2')); })
        << QList<int>{kCommandField};
    QTest::newRow("play beyond the field")
        << Call([alias100] { return MciPlay(alias100, "1", QString(13, u'2')); })
        << QList<int>{129};
    QTest::newRow("setaudio") << Call([] { return MciSetVolume("ZEL0", "both", 7); })
                              << QList<int>{kCommandField};
    QTest::newRow("setaudio one side")
        << Call([] { return MciSetVolume("ZEL0", "right", 7); }) << QList<int>{kCommandField};
    QTest::newRow("status volume")
        << Call([] { return QString::number(MciGetVolume("ZEL0", "Both")); })
        << QList<int>{kCommandField};
    QTest::newRow("status volume, long alias")
        << Call([alias200] { return QString::number(MciGetVolume(alias200, "Both")); })
        << QList<int>{214};
    QTest::newRow("close") << Call([] { return MciClose("ZEL0"); }) << QList<int>{10};
    QTest::newRow("close all") << Call([] { return MciCloseAll(); }) << QList<int>{9};
    QTest::newRow("status mode") << Call([] { return MciGetMode("ZEL0"); }) << QList<int>{16};
    QTest::newRow("time format and length")
        << Call([] { return QString::number(MciGetLength("ZEL0")); }) << QList<int>{27, 18};
}

// Fixed fields are padded with blanks only, and a command longer than its field goes out whole.
void ModMciTest::fieldPadding() {
    QFETCH(Call, call);
    QFETCH(QList<int>, lengths);

    call();
    const QStringList sent = Sent();
    QCOMPARE(sent.size(), lengths.size());
    for (int i = 0; i < sent.size(); ++i) {
        QCOMPARE(sent[i].toUtf8().size(), lengths[i]);
        const QString words = sent[i].trimmed();
        QVERIFY2(!words.contains(u"  "), qPrintable(sent[i]));
        QCOMPARE(sent[i], Padded(words, lengths[i]));
    }
}

void ModMciTest::openFileName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("quoted");

    QTest::newRow("plain") << "plain.mp3" << false;
    QTest::newRow("blank") << "with blank.mp3" << true;
    QTest::newRow("blanks at both ends") << " both ends .wav" << true;
    QTest::newRow("looks like more keywords") << "x type sequencer Alias ZEL9 parent 1.mp3" << true;
    QTest::newRow("non-ASCII") << "Müsik-Straße.mid" << false;
}

// Whatever the file is called, the command names that file, that alias and that device type.
void ModMciTest::openFileName() {
    QFETCH(QString, name);
    QFETCH(bool, quoted);

    const QString path = dir_.filePath(name);
    QVERIFY(MediaFixtures::MakeFile(path, "x"));
    QCOMPARE(MciOpen(460, "ZEL0", path, "MPEGVideo"), QStringLiteral("Success"));

    const QString shown = quoted ? u'"' + path + u'"' : path;
    QCOMPARE(Sent(), QStringList{Padded("open " + shown + kOpenTail, kOpenField)});

    Platform::Mci::Command command;
    QCOMPARE(Platform::Mci::ParseCommand(recorder_->Commands().front(), command),
             Platform::Mci::kNoError);
    QCOMPARE(QString::fromStdString(command.device), path);
    QCOMPARE(QString::fromStdString(command.alias), QStringLiteral("ZEL0"));
    QCOMPARE(QString::fromStdString(command.type), QStringLiteral("MPEGVideo"));
}

void ModMciTest::openRefusesUnsafeName_data() {
    QTest::addColumn<QString>("name");

    QTest::newRow("double quote") << "say \"hi\".mp3";
    QTest::newRow("lone double quote") << "a\"b.mp3";
    QTest::newRow("tab") << "tab\tname.mp3";
    QTest::newRow("line feed") << "line\nbreak.mp3";
    QTest::newRow("carriage return") << "cr\r.mp3";
    QTest::newRow("bell") << QStringLiteral("bell") + QChar(7) + ".mp3";
    QTest::newRow("delete") << QStringLiteral("del") + QChar(0x7f) + ".mp3";
}

void ModMciTest::openRefusesUnsafeName() {
    QFETCH(QString, name);

    // The file exists, so its name would otherwise go into the command.
    const QString path = dir_.filePath(name);
    QVERIFY(MediaFixtures::MakeFile(path, "x"));
    QVERIFY(QFileInfo::exists(path));

    const QString result = MciOpen(460, "ZEL0", path, "MPEGVideo");
    QCOMPARE(result, ErrorText(Platform::Mci::kErrUnsafeFileName));
    QVERIFY(!result.isEmpty());
    QCOMPARE(Sent(), QStringList());
}

void ModMciTest::openLongPathIsSentWhole() {
    const QString folder =
        dir_.filePath(QString(100, u'a') + u'/' + QString(100, u'b') + u'/' + QString(100, u'c'));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/the song.mp3");
    QVERIFY(path.size() > kOpenField);
    QVERIFY(MediaFixtures::MakeFile(path, "x"));

    QCOMPARE(MciOpen(460, "ZEL0", path, "MPEGVideo"), QStringLiteral("Success"));
    QCOMPARE(Sent(), QStringList{"open \"" + path + '"' + kOpenTail});
}

void ModMciTest::setVolume_data() {
    QTest::addColumn<QString>("side");
    QTest::addColumn<int>("volume");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("result");

    const auto padded = [](const char* command) {
        return QStringList{Padded(command, kCommandField)};
    };
    QTest::newRow("Both") << "Both" << 50 << padded("setaudio ZEL0 Volume to 500") << "Success";
    QTest::newRow("both") << "both" << 50 << padded("setaudio ZEL0 Volume to 500") << "Success";
    QTest::newRow("empty side") << "" << 50 << padded("setaudio ZEL0 Volume to 500") << "Success";
    QTest::newRow("Left kept as passed")
        << "Left" << 50 << padded("setaudio ZEL0 Left Volume to 500") << "Success";
    QTest::newRow("RIGHT kept in upper case")
        << "RIGHT" << 50 << padded("setaudio ZEL0 RIGHT Volume to 500") << "Success";
    QTest::newRow("rIgHt") << "rIgHt" << 30 << padded("setaudio ZEL0 rIgHt Volume to 300")
                           << "Success";
    QTest::newRow("side word with a blank is no side")
        << "left " << 50 << padded("setaudio ZEL0 Volume to 500") << "Success";
    QTest::newRow("longer word is no side")
        << "lefty" << 50 << padded("setaudio ZEL0 Volume to 500") << "Success";
    QTest::newRow("0") << "Both" << 0 << padded("setaudio ZEL0 Volume to 0") << "Success";
    QTest::newRow("1") << "Both" << 1 << padded("setaudio ZEL0 Volume to 10") << "Success";
    QTest::newRow("100") << "Both" << 100 << padded("setaudio ZEL0 Volume to 1000") << "Success";
    QTest::newRow("-1") << "Both" << -1 << QStringList() << "out of volume";
    QTest::newRow("101") << "Left" << 101 << QStringList() << "out of volume";
    QTest::newRow("far below") << "Both" << INT_MIN << QStringList() << "out of volume";
    QTest::newRow("far above") << "Both" << INT_MAX << QStringList() << "out of volume";
}

void ModMciTest::setVolume() {
    QFETCH(QString, side);
    QFETCH(int, volume);
    QFETCH(QStringList, sent);
    QFETCH(QString, result);

    QCOMPARE(MciSetVolume("ZEL0", side, volume), result);
    QCOMPARE(Sent(), sent);
}

void ModMciTest::getVolume_data() {
    QTest::addColumn<QString>("side");
    QTest::addColumn<uint>("code");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<int>("volume");

    const uint ok = Platform::Mci::kNoError;
    const QString both = Padded("status ZEL0 Volume", kCommandField);
    QTest::newRow("505 halves to even, down") << "both" << ok << QByteArray("505") << both << 50;
    QTest::newRow("515 halves to even, up") << "both" << ok << QByteArray("515") << both << 52;
    QTest::newRow("525") << "both" << ok << QByteArray("525") << both << 52;
    QTest::newRow("1000") << "both" << ok << QByteArray("1000") << both << 100;
    QTest::newRow("0") << "both" << ok << QByteArray("0") << both << 0;
    QTest::newRow("5") << "both" << ok << QByteArray("5") << both << 0;
    QTest::newRow("6 rounds up") << "both" << ok << QByteArray("6") << both << 1;
    QTest::newRow("994 rounds down") << "both" << ok << QByteArray("994") << both << 99;
    QTest::newRow("number then words") << "both" << ok << QByteArray("730 of 1000") << both << 73;
    QTest::newRow("not a number") << "both" << ok << QByteArray("abc") << both << 0;
    QTest::newRow("empty reply") << "both" << ok << QByteArray() << both << 0;
    QTest::newRow("refused") << "both" << uint(Platform::Mci::kErrDeviceNotOpen)
                             << QByteArray("999") << both << -1;
    QTest::newRow("left side") << "left" << ok << QByteArray("200")
                               << Padded("status ZEL0 left Volume", kCommandField) << 20;
    QTest::newRow("Right side") << "Right" << ok << QByteArray("1000")
                                << Padded("status ZEL0 Right Volume", kCommandField) << 100;
    QTest::newRow("Both") << "Both" << ok << QByteArray("250") << both << 25;
    QTest::newRow("no side") << "" << ok << QByteArray("250") << both << 25;
}

void ModMciTest::getVolume() {
    QFETCH(QString, side);
    QFETCH(uint, code);
    QFETCH(QByteArray, reply);
    QFETCH(QString, sent);
    QFETCH(int, volume);

    Answer(sent.trimmed().toStdString(), code, reply.toStdString());
    QCOMPARE(MciGetVolume("ZEL0", side), volume);
    QCOMPARE(Sent(), QStringList{sent});
}

void ModMciTest::getLength_data() {
    QTest::addColumn<uint>("formatCode");
    QTest::addColumn<uint>("lengthCode");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("length");

    const uint ok = Platform::Mci::kNoError;
    const uint refused = Platform::Mci::kErrDeviceNotOpen;
    QTest::newRow("750") << ok << ok << QByteArray("750") << 750;
    QTest::newRow("0") << ok << ok << QByteArray("0") << 0;
    QTest::newRow("90000") << ok << ok << QByteArray("90000") << 90000;
    QTest::newRow("12.5 halves to even") << ok << ok << QByteArray("12.5") << 12;
    QTest::newRow("13.5 halves to even") << ok << ok << QByteArray("13.5") << 14;
    QTest::newRow("not a number") << ok << ok << QByteArray("abc") << 0;
    QTest::newRow("empty") << ok << ok << QByteArray() << 0;
    QTest::newRow("length refused") << ok << refused << QByteArray("750") << -1;
    QTest::newRow("time format refused, length still asked")
        << uint(Platform::Mci::kErrOutOfRange) << ok << QByteArray("42") << 42;
}

void ModMciTest::getLength() {
    QFETCH(uint, formatCode);
    QFETCH(uint, lengthCode);
    QFETCH(QByteArray, reply);
    QFETCH(int, length);

    Answer("set ZEL0 time format frames", formatCode);
    Answer("status ZEL0 length", lengthCode, reply.toStdString());
    QCOMPARE(MciGetLength("ZEL0"), length);
    QCOMPARE(Sent(), (QStringList{"set ZEL0 time format frames", "status ZEL0 length"}));
}

void ModMciTest::play_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<uint>("lengthCode");
    QTest::addColumn<uint>("playCode");
    QTest::addColumn<QStringList>("sent");

    const uint ok = Platform::Mci::kNoError;
    const QStringList length{"set ZEL0 time format frames", "status ZEL0 length"};
    const auto play = [](const char* command) { return Padded(command, kCommandField); };
    QTest::newRow("whole file") << ""
                                << "" << ok << ok
                                << length + QStringList{play("play ZEL0 from 0 to 750")};
    QTest::newRow("from 10 to the end")
        << "10"
        << "" << ok << ok << length + QStringList{play("play ZEL0 from 10 to 750")};
    QTest::newRow("from the start to 20")
        << ""
        << "20" << ok << ok << QStringList{play("play ZEL0 from 0 to 20")};
    QTest::newRow("positions passed unchecked")
        << "x"
        << "-5" << ok << ok << QStringList{play("play ZEL0 from x to -5")};
    QTest::newRow("length refused")
        << ""
        << "" << uint(Platform::Mci::kErrDeviceNotOpen) << uint(Platform::Mci::kErrOutOfRange)
        << length + QStringList{play("play ZEL0 from 0 to -1")};
    QTest::newRow("play refused") << "10"
                                  << "20" << ok << uint(Platform::Mci::kErrDeviceFailed)
                                  << QStringList{play("play ZEL0 from 10 to 20")};
}

void ModMciTest::play() {
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(uint, lengthCode);
    QFETCH(uint, playCode);
    QFETCH(QStringList, sent);

    Answer("status ZEL0 length", lengthCode, "750");
    Answer(sent.last().trimmed().toStdString(), playCode);
    QCOMPARE(MciPlay("ZEL0", from, to),
             playCode == Platform::Mci::kNoError ? QStringLiteral("Success") : ErrorText(playCode));
    QCOMPARE(Sent(), sent);
}

void ModMciTest::getMode_data() {
    QTest::addColumn<uint>("code");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("mode");

    const uint ok = Platform::Mci::kNoError;
    QTest::newRow("playing") << ok << QByteArray("playing") << "playing";
    QTest::newRow("stopped") << ok << QByteArray("stopped") << "stopped";
    QTest::newRow("not ready") << ok << QByteArray("not ready") << "not ready";
    QTest::newRow("empty") << ok << QByteArray() << "";
    QTest::newRow("up to the first NUL") << ok << QByteArray("play\0ing", 8) << "play";
    QTest::newRow("cut to the reply buffer") << ok << QByteArray(300, 'p') << QString(127, u'p');
    QTest::newRow("not open") << uint(Platform::Mci::kErrDeviceNotOpen) << QByteArray() << "ERROR";
    QTest::newRow("refused with a reply")
        << uint(Platform::Mci::kErrDeviceFailed) << QByteArray("playing") << "ERROR";
}

void ModMciTest::getMode() {
    QFETCH(uint, code);
    QFETCH(QByteArray, reply);
    QFETCH(QString, mode);

    Answer("status ZEL0 mode", code, reply.toStdString());
    QCOMPARE(MciGetMode("ZEL0"), mode);
    QCOMPARE(Sent(), QStringList{"status ZEL0 mode"});
}

void ModMciTest::statusText_data() {
    QTest::addColumn<Call>("call");
    QTest::addColumn<QString>("command");
    QTest::addColumn<uint>("code");

    const QString song = song_;
    const auto open = [song] { return MciOpen(460, "ZEL0", song, "MPEGVideo"); };
    const QString openCommand = "open " + song + kOpenTail;
    const auto close = [] { return MciClose("ZEL0"); };
    for (uint code = Platform::Mci::kNoError; code <= Platform::Mci::kErrUnsafeFileName;
         code = code == 0 ? Platform::Mci::kErrUnrecognizedCommand : code + 1) {
        QTest::addRow("close, code %u", code) << Call(close) << "Close ZEL0" << code;
    }
    const uint failed = Platform::Mci::kErrCannotPlay;
    QTest::newRow("open succeeds") << Call(open) << openCommand << uint(0);
    QTest::newRow("open fails") << Call(open) << openCommand << failed;
    QTest::newRow("play fails") << Call([] { return MciPlay("ZEL0", "1", "2"); })
                                << "play ZEL0 from 1 to 2" << failed;
    QTest::newRow("close all fails") << Call([] { return MciCloseAll(); }) << "Close All" << failed;
    QTest::newRow("set volume fails") << Call([] { return MciSetVolume("ZEL0", "Both", 5); })
                                      << "setaudio ZEL0 Volume to 50" << failed;
}

void ModMciTest::statusText() {
    QFETCH(Call, call);
    QFETCH(QString, command);
    QFETCH(uint, code);

    Answer(command.toStdString(), code);
    const QString expected = code == 0 ? QStringLiteral("Success") : ErrorText(code);
    QVERIFY(!expected.isEmpty());
    QVERIFY(expected.size() <= 127);
    QCOMPARE(call(), expected);
}

void ModMciTest::everyErrorHasItsOwnText() {
    QSet<QString> texts;
    for (uint code = Platform::Mci::kErrUnrecognizedCommand;
         code <= Platform::Mci::kErrUnsafeFileName; ++code) {
        char text[128];
        QVERIFY(Platform::Mci::mciGetErrorString(code, text, sizeof text));
        QVERIFY2(text[0] != '\0', qPrintable(QString::number(code)));
        QVERIFY2(!texts.contains(text), text);
        texts.insert(text);
    }
    char text[128] = "untouched";
    QVERIFY(!Platform::Mci::mciGetErrorString(Platform::Mci::kErrUnsafeFileName + 1, text,
                                              sizeof text));
    QVERIFY(!Platform::Mci::mciGetErrorString(1, text, sizeof text));
    QVERIFY(!Platform::Mci::mciGetErrorString(256, text, sizeof text));

    // A short buffer gets the beginning of the text, still ended by a NUL.
    char small[8];
    std::memset(small, 'x', sizeof small);
    QVERIFY(
        Platform::Mci::mciGetErrorString(Platform::Mci::kErrDeviceNotOpen, small, sizeof small));
    QCOMPARE(QByteArray(small), ErrorText(Platform::Mci::kErrDeviceNotOpen).left(7).toLocal8Bit());
}

// Without a media service every command is refused, and the results say so.
void ModMciTest::noServiceInstalled() {
    auto recorder = Platform::Mci::SetService(nullptr);
    QCOMPARE(MciGetMode("ZEL0"), QStringLiteral("ERROR"));
    QCOMPARE(MciGetLength("ZEL0"), -1);
    QCOMPARE(MciGetVolume("ZEL0", "both"), -1);
    QCOMPARE(MciClose("ZEL0"), ErrorText(Platform::Mci::kErrNoService));
    Platform::Mci::SetService(std::move(recorder));
    QCOMPARE(Sent(), QStringList());
}

QTEST_GUILESS_MAIN(ModMciTest)
#include "tst_mod_mci.moc"
