#include "tst_mci.h"

#include <gst/app/gstappsink.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QtTest>
#include <cmath>
#include <vector>

#include "MediaFixtures.h"
#include "platform/mci/commandline.h"
#include "platform/mci/mci.h"

using namespace Platform::Mci;

namespace {

// The tone files are 18 buffers of 1024 samples at 44.1 kHz: 417.96 ms, so 418 ms and 11 frames
// of 40 ms once rounded up.
constexpr int kToneMs = 400;
constexpr int kWavLengthMs = 418;
constexpr int kWavLengthFrames = 11;
constexpr int kFrameMs = 40;

// Bounds every wait for the end of a file; a file of well under a second never needs it.
constexpr int kPlayLimitMs = 10000;

QString DescribeSide(Side side) {
    switch (side) {
        case Side::Left:
            return QStringLiteral("left");
        case Side::Right:
            return QStringLiteral("right");
        case Side::Both:
            break;
    }
    return QStringLiteral("both");
}

QString DescribeItem(StatusItem item) {
    switch (item) {
        case StatusItem::Mode:
            return QStringLiteral("mode");
        case StatusItem::Length:
            return QStringLiteral("length");
        case StatusItem::Position:
            return QStringLiteral("position");
        case StatusItem::Volume:
            return QStringLiteral("volume");
        case StatusItem::TimeFormat:
            return QStringLiteral("time format");
        case StatusItem::Ready:
            return QStringLiteral("ready");
    }
    return {};
}

QString DescribePosition(const std::optional<std::int64_t>& position) {
    return position ? QString::number(*position) : QStringLiteral("-");
}

// The fields a parsed command carries for its verb, in one line a table row can spell out.
QString Describe(const Command& command) {
    const QString device = u'[' + QString::fromStdString(command.device) + u']';
    switch (command.verb) {
        case Verb::Open:
            return QStringLiteral("open %1 type [%2] alias [%3]")
                .arg(device, QString::fromStdString(command.type),
                     QString::fromStdString(command.alias));
        case Verb::Close:
            return command.all ? QStringLiteral("close all") : "close " + device;
        case Verb::Play:
            return QStringLiteral("play %1 from %2 to %3")
                .arg(device, DescribePosition(command.from), DescribePosition(command.to));
        case Verb::Pause:
            return "pause " + device;
        case Verb::Resume:
            return "resume " + device;
        case Verb::Stop:
            return "stop " + device;
        case Verb::Status:
            return QStringLiteral("status %1 %2 %3")
                .arg(device, DescribeSide(command.side), DescribeItem(command.item));
        case Verb::Set:
            return QStringLiteral("set %1 %2")
                .arg(device, command.timeFormat == TimeFormat::Frames ? "frames" : "ms");
        case Verb::SetAudio:
            return QStringLiteral("setaudio %1 %2 %3")
                .arg(device, DescribeSide(command.side), QString::number(command.volume));
    }
    return {};
}

MciError Run(GstDevices& devices, const QString& command, QString* reply = nullptr) {
    std::string text;
    const MciError result = devices.Execute(command.toStdString(), text);
    if (reply != nullptr) {
        *reply = QString::fromStdString(text);
    }
    return result;
}

// The reply of a query, or "error <code>" when it is refused.
QString Ask(GstDevices& devices, const QString& command) {
    QString reply;
    const MciError result = Run(devices, command, &reply);
    return result == kNoError ? reply : QStringLiteral("error %1").arg(result);
}

// Polls the mode, as the console does once a second, until the device leaves "playing".
QString ModeAfterPlaying(GstDevices& devices, const QString& alias) {
    QElapsedTimer timer;
    timer.start();
    QString mode = Ask(devices, "status " + alias + " mode");
    while (mode == u"playing" && timer.elapsed() < kPlayLimitMs) {
        QThread::msleep(5);
        mode = Ask(devices, "status " + alias + " mode");
    }
    return mode;
}

qsizetype EntriesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
}

// Sound levels of what reached an appsink, per loudspeaker side.
struct Levels {
    double left = 0.0;
    double right = 0.0;
    qint64 frames = 0;
};

// One block per buffer, so that a test can look at the start and the end of a stream apart.
std::vector<Levels> PullBlocks(GstElement* sink, GstClockTime timeout) {
    std::vector<Levels> blocks;
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), timeout)) {
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            const auto* samples = reinterpret_cast<const float*>(map.data);
            Levels block;
            block.frames = static_cast<qint64>(map.size / sizeof(float) / 2);
            for (qint64 i = 0; i < block.frames; ++i) {
                block.left += double(samples[2 * i]) * samples[2 * i];
                block.right += double(samples[2 * i + 1]) * samples[2 * i + 1];
            }
            gst_buffer_unmap(buffer, &map);
            blocks.push_back(block);  // sums of squares until Rms() below
        }
        gst_sample_unref(sample);
    }
    return blocks;
}

Levels Rms(const std::vector<Levels>& blocks) {
    Levels total;
    for (const Levels& block : blocks) {
        total.left += block.left;
        total.right += block.right;
        total.frames += block.frames;
    }
    if (total.frames > 0) {
        total.left = std::sqrt(total.left / double(total.frames));
        total.right = std::sqrt(total.right / double(total.frames));
    }
    return total;
}

// A sink that hands every sample to the test as interleaved stereo floats.
GstDevices::SinkFactory MeasuringSink(GstElement** appSink, bool sync) {
    return [appSink, sync] {
        const QString description =
            QStringLiteral(
                "audioconvert ! audio/x-raw,format=F32LE,layout="
                "interleaved,channels=2 ! appsink name=measure wait-on-eos=false sync=%1")
                .arg(sync ? "true" : "false");
        GError* error = nullptr;
        GstElement* bin =
            gst_parse_bin_from_description(description.toUtf8().constData(), TRUE, &error);
        if (error != nullptr) {
            qWarning("measuring sink: %s", error->message);
            g_error_free(error);
            return static_cast<GstElement*>(nullptr);
        }
        if (*appSink != nullptr) {
            gst_object_unref(*appSink);
        }
        *appSink = gst_bin_get_by_name(GST_BIN(bin), "measure");
        return bin;
    };
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CommandLineTest

void CommandLineTest::tokenize_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<uint>("code");

    const uint ok = kNoError;
    QTest::newRow("words") << "play ZEL0 from 0" << QStringList{"play", "ZEL0", "from", "0"} << ok;
    QTest::newRow("runs of blanks") << "  play   ZEL0  " << QStringList{"play", "ZEL0"} << ok;
    QTest::newRow("tabs") << "play\tZEL0\t\t" << QStringList{"play", "ZEL0"} << ok;
    QTest::newRow("quoted name with blanks")
        << "open \"/m/a  b.mp3\" type x" << QStringList{"open", "/m/a  b.mp3", "type", "x"} << ok;
    QTest::newRow("empty quotes") << "open \"\" type x" << QStringList{"open", "", "type", "x"}
                                  << ok;
    QTest::newRow("quoted at the end")
        << "status \"my dev\"" << QStringList{"status", "my dev"} << ok;
    QTest::newRow("nothing") << "" << QStringList() << ok;
    QTest::newRow("only blanks") << "    " << QStringList() << ok;
    QTest::newRow("unterminated quote")
        << "open \"/m/a b.mp3 type x" << QStringList() << uint(kErrUnterminatedQuote);
    QTest::newRow("lone quote") << "close \"" << QStringList() << uint(kErrUnterminatedQuote);
}

void CommandLineTest::tokenize() {
    QFETCH(QString, text);
    QFETCH(QStringList, words);
    QFETCH(uint, code);

    std::vector<std::string> found;
    QCOMPARE(Tokenize(text.toStdString(), found), code);
    if (code == kNoError) {
        QStringList actual;
        for (const std::string& word : found) {
            actual << QString::fromStdString(word);
        }
        QCOMPARE(actual, words);
    }
}

void CommandLineTest::parse_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("parsed");

    const QString padding(150, u' ');
    QTest::newRow("open as sent")
        << "open /m/a.mp3 type MPEGVideo Alias ZEL0 parent 460 Style 1073741824"
        << "open [/m/a.mp3] type [MPEGVideo] alias [ZEL0]";
    QTest::newRow("open, keywords in upper case")
        << "OPEN /m/a.mp3 TYPE mpegvideo ALIAS zel0 PARENT 460 STYLE 1073741824"
        << "open [/m/a.mp3] type [mpegvideo] alias [zel0]";
    QTest::newRow("open padded with blanks")
        << "open /m/a.mp3 type MPEGVideo Alias ZEL0 parent 460 Style 1073741824" + padding
        << "open [/m/a.mp3] type [MPEGVideo] alias [ZEL0]";
    QTest::newRow("open quoted names") << "open \"/m/my song.mp3\" type MPEGVideo alias \"my dev\""
                                       << "open [/m/my song.mp3] type [MPEGVideo] alias [my dev]";
    QTest::newRow("open quoted name looking like keywords")
        << "open \"/m/x type sequencer alias y\" type MPEGVideo alias ZEL0"
        << "open [/m/x type sequencer alias y] type [MPEGVideo] alias [ZEL0]";
    QTest::newRow("open without alias") << "open /m/a.mp3 type MPEGVideo"
                                        << "open [/m/a.mp3] type [MPEGVideo] alias [/m/a.mp3]";
    QTest::newRow("open with negative parent and wait") << "open /m/a.mp3 alias x parent -5 wait"
                                                        << "open [/m/a.mp3] type [] alias [x]";
    QTest::newRow("play from to") << "play ZEL0 from 0 to 750"
                                  << "play [ZEL0] from 0 to 750";
    QTest::newRow("play, mixed case") << "Play ZEL0 FROM 10 To 20"
                                      << "play [ZEL0] from 10 to 20";
    QTest::newRow("play padded") << "play ZEL0 from 0 to 750" + padding
                                 << "play [ZEL0] from 0 to 750";
    QTest::newRow("play bare") << "play ZEL0"
                               << "play [ZEL0] from - to -";
    QTest::newRow("play to only") << "play ZEL0 to 5"
                                  << "play [ZEL0] from - to 5";
    QTest::newRow("close") << "Close ZEL0"
                           << "close [ZEL0]";
    QTest::newRow("close wait") << "close ZEL0 wait"
                                << "close [ZEL0]";
    QTest::newRow("Close All") << "Close All"
                               << "close all";
    QTest::newRow("CLOSE ALL") << "CLOSE ALL"
                               << "close all";
    QTest::newRow("status mode") << "status ZEL0 mode"
                                 << "status [ZEL0] both mode";
    QTest::newRow("status MODE trailing blanks") << "STATUS ZEL0 MODE   "
                                                 << "status [ZEL0] both mode";
    QTest::newRow("status length") << "status ZEL0 length"
                                   << "status [ZEL0] both length";
    QTest::newRow("status position") << "status ZEL0 Position"
                                     << "status [ZEL0] both position";
    QTest::newRow("status Volume") << "status ZEL0 Volume"
                                   << "status [ZEL0] both volume";
    QTest::newRow("status left Volume") << "status ZEL0 left Volume"
                                        << "status [ZEL0] left volume";
    QTest::newRow("status RIGHT volume") << "status ZEL0 RIGHT volume"
                                         << "status [ZEL0] right volume";
    QTest::newRow("status time format") << "status ZEL0 time format"
                                        << "status [ZEL0] both time format";
    QTest::newRow("status quoted device") << "status \"my dev\" mode"
                                          << "status [my dev] both mode";
    QTest::newRow("set frames") << "set ZEL0 time format frames"
                                << "set [ZEL0] frames";
    QTest::newRow("set MS") << "SET ZEL0 TIME FORMAT MS"
                            << "set [ZEL0] ms";
    QTest::newRow("set milliseconds") << "set ZEL0 time format milliseconds"
                                      << "set [ZEL0] ms";
    QTest::newRow("setaudio") << "setaudio ZEL0 Volume to 500"
                              << "setaudio [ZEL0] both 500";
    QTest::newRow("setaudio Left 0") << "setaudio ZEL0 Left Volume to 0"
                                     << "setaudio [ZEL0] left 0";
    QTest::newRow("SETAUDIO right 1000") << "SETAUDIO ZEL0 right VOLUME TO 1000"
                                         << "setaudio [ZEL0] right 1000";
    QTest::newRow("pause") << "pause ZEL0"
                           << "pause [ZEL0]";
    QTest::newRow("resume") << "Resume ZEL0"
                            << "resume [ZEL0]";
    QTest::newRow("stop") << "STOP ZEL0"
                          << "stop [ZEL0]";
}

void CommandLineTest::parse() {
    QFETCH(QString, text);
    QFETCH(QString, parsed);

    Command command;
    QCOMPARE(ParseCommand(text.toStdString(), command), kNoError);
    QCOMPARE(Describe(command), parsed);
}

void CommandLineTest::parseErrors_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("code");

    const uint unknownCommand = kErrUnrecognizedCommand;
    const uint unknownKeyword = kErrUnrecognizedKeyword;
    const uint missing = kErrMissingParameter;
    const uint badInteger = kErrBadInteger;
    const uint outOfRange = kErrOutOfRange;
    QTest::newRow("empty") << "" << unknownCommand;
    QTest::newRow("blanks") << "   " << unknownCommand;
    QTest::newRow("unknown verb") << "fly ZEL0" << unknownCommand;
    QTest::newRow("verb glued to device") << "statusZEL0 mode" << unknownCommand;
    QTest::newRow("verb without device") << "play" << missing;
    QTest::newRow("unterminated quote")
        << "open \"/m/a b.mp3 type MPEGVideo" << uint(kErrUnterminatedQuote);
    QTest::newRow("open type without value") << "open /m/a.mp3 type" << missing;
    QTest::newRow("open alias without value") << "open /m/a.mp3 type MPEGVideo Alias" << missing;
    QTest::newRow("open unknown keyword") << "open /m/a.mp3 colour red" << unknownKeyword;
    QTest::newRow("open without a file name")
        << "open  type MPEGVideo Alias ZEL0 parent 460 Style 1073741824" << unknownKeyword;
    QTest::newRow("open alias all") << "open /m/a.mp3 type MPEGVideo alias ALL" << outOfRange;
    QTest::newRow("open parent not a number") << "open /m/a.mp3 alias x parent me" << badInteger;
    QTest::newRow("play from without value") << "play ZEL0 from" << missing;
    QTest::newRow("play to -1") << "play ZEL0 from 0 to -1" << outOfRange;
    QTest::newRow("play from -3") << "play ZEL0 from -3" << outOfRange;
    QTest::newRow("play to x") << "play ZEL0 from 0 to x" << badInteger;
    QTest::newRow("play to 1x") << "play ZEL0 to 1x" << badInteger;
    QTest::newRow("play to 1.5") << "play ZEL0 to 1.5" << badInteger;
    QTest::newRow("play to +5") << "play ZEL0 to +5" << badInteger;
    QTest::newRow("play to a huge number") << "play ZEL0 to 99999999999999999999" << outOfRange;
    QTest::newRow("play at") << "play ZEL0 at 5" << unknownKeyword;
    QTest::newRow("play wait") << "play ZEL0 from 0 wait" << unknownKeyword;
    QTest::newRow("close with more") << "close ZEL0 now" << unknownKeyword;
    QTest::newRow("status without item") << "status ZEL0" << missing;
    QTest::newRow("status unknown item") << "status ZEL0 colour" << unknownKeyword;
    QTest::newRow("status left mode") << "status ZEL0 left mode" << unknownKeyword;
    QTest::newRow("status mode and more") << "status ZEL0 mode now" << unknownKeyword;
    QTest::newRow("set unknown") << "set ZEL0 speed 2" << unknownKeyword;
    QTest::newRow("set time format missing") << "set ZEL0 time format" << missing;
    QTest::newRow("set time format hours") << "set ZEL0 time format hours" << outOfRange;
    QTest::newRow("setaudio volume 1001") << "setaudio ZEL0 volume to 1001" << outOfRange;
    QTest::newRow("setaudio volume -1") << "setaudio ZEL0 volume to -1" << outOfRange;
    QTest::newRow("setaudio volume loud") << "setaudio ZEL0 volume to loud" << badInteger;
    QTest::newRow("setaudio without to") << "setaudio ZEL0 volume 500" << unknownKeyword;
    QTest::newRow("setaudio without value") << "setaudio ZEL0 volume to" << missing;
    QTest::newRow("setaudio with more") << "setaudio ZEL0 volume to 5 now" << unknownKeyword;
    QTest::newRow("setaudio centre") << "setaudio ZEL0 centre volume to 5" << unknownKeyword;
}

void CommandLineTest::parseErrors() {
    QFETCH(QString, text);
    QFETCH(uint, code);

    Command command;
    QCOMPARE(ParseCommand(text.toStdString(), command), code);
}

void CommandLineTest::sendStringReply_data() {
    QTest::addColumn<uint>("code");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<uint>("length");
    QTest::addColumn<QByteArray>("written");

    const uint ok = kNoError;
    QTest::newRow("fits") << ok << QByteArray("playing") << 128U << QByteArray("playing");
    QTest::newRow("exactly fits") << ok << QByteArray("playing") << 8U << QByteArray("playing");
    QTest::newRow("cut") << ok << QByteArray("playing") << 4U << QByteArray("pla");
    QTest::newRow("room for the NUL only") << ok << QByteArray("playing") << 1U << QByteArray();
    QTest::newRow("refused clears the buffer")
        << uint(kErrDeviceNotOpen) << QByteArray("playing") << 128U << QByteArray();
}

void CommandLineTest::sendStringReply() {
    QFETCH(uint, code);
    QFETCH(QByteArray, reply);
    QFETCH(uint, length);
    QFETCH(QByteArray, written);

    auto previous =
        SetService(std::make_unique<Recorder>([&](std::string_view, std::string& text) -> MciError {
            text = reply.toStdString();
            return code;
        }));
    char buffer[130];
    std::memset(buffer, 'Z', sizeof buffer);
    const MciError result = mciSendString("status ZEL0 mode", buffer, length, 0);
    const MciError withoutBuffer = mciSendString("status ZEL0 mode", nullptr, 0, 0);
    SetService(std::move(previous));

    QCOMPARE(result, code);
    QCOMPARE(withoutBuffer, code);
    QCOMPARE(QByteArray(buffer), written);
    QCOMPARE(buffer[length], 'Z');  // nothing written beyond the given length
}

// ---------------------------------------------------------------------------------------------
// MciInterpreterTest

void MciInterpreterTest::initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY(MediaFixtures::MakeWav(Path("tone.wav"), kToneMs));
    QVERIFY(MediaFixtures::MakeMp3(Path("tone.mp3"), kToneMs));
    QVERIFY(MediaFixtures::MakeMidi(Path("tune.mid"), {60, 64, 67}, 150));
    QVERIFY(MediaFixtures::MakeWav(Path("long.wav"), 600));
    QVERIFY(MediaFixtures::MakeWav(Path("minute.wav"), 60'000));
    QVERIFY(MediaFixtures::MakeWav(Path("name with blanks.wav"), 300));
    QVERIFY(QFile::copy(Path("tone.wav"), Path("Grüße-Straße.wav")));
    QVERIFY(MediaFixtures::MakeFile(Path("empty.mp3"), {}));
    QVERIFY(MediaFixtures::MakeFile(Path("text.mp3"),
                                    QByteArray("This is a letter, not a song.\n").repeated(40)));
    QVERIFY(
        MediaFixtures::MakeFile(Path("header.wav"), QByteArray("RIFF\x24\x00\x00\x00WAVE", 12)));
    QVERIFY(QDir().mkpath(Path("folder.mp3")));
}

void MciInterpreterTest::cleanup() {
    if (appSink_ != nullptr) {
        gst_object_unref(appSink_);
        appSink_ = nullptr;
    }
    lastSink_ = nullptr;
}

QString MciInterpreterTest::Resolve(QString command) const {
    return command.replace("$WAV", Path("tone.wav"))
        .replace("$MP3", Path("tone.mp3"))
        .replace("$MIDI", Path("tune.mid"))
        .replace("$DIR", dir_.path());
}

void MciInterpreterTest::playToEnd_data() {
    QTest::addColumn<QString>("file");

    QTest::newRow("WAV") << "$WAV";
    QTest::newRow("MP3") << "$MP3";
    QTest::newRow("MIDI") << "$MIDI";
    QTest::newRow("WAV, name not in ASCII") << "$DIR/Grüße-Straße.wav";
}

// The console's whole use of a device: open, length, play from 0 to the length, poll until it
// has stopped, close.
void MciInterpreterTest::playToEnd() {
    QFETCH(QString, file);

    GstDevices devices(GstDevices::FakeSink());
    QCOMPARE(Run(devices, Resolve("open " + file + " type MPEGVideo Alias ZEL0 parent 460")),
             kNoError);
    QCOMPARE(devices.OpenDeviceCount(), std::size_t(1));
    QCOMPARE(Ask(devices, "status ZEL0 mode"), QStringLiteral("stopped"));
    const int lengthMs = Ask(devices, "status ZEL0 length").toInt();
    QVERIFY(lengthMs > 0);

    QCOMPARE(Run(devices, "set ZEL0 time format frames"), kNoError);
    const QString frames = Ask(devices, "status ZEL0 length");
    QCOMPARE(Run(devices, "play ZEL0 from 0 to " + frames), kNoError);
    QCOMPARE(Ask(devices, "status ZEL0 mode"), QStringLiteral("playing"));
    QCOMPARE(ModeAfterPlaying(devices, "ZEL0"), QStringLiteral("stopped"));

    // It played to the end, not just some of the way.
    QCOMPARE(Run(devices, "set ZEL0 time format ms"), kNoError);
    const int position = Ask(devices, "status ZEL0 position").toInt();
    QVERIFY2(position >= lengthMs - 2 * kFrameMs,
             qPrintable(QStringLiteral("%1 of %2 ms").arg(position).arg(lengthMs)));
    // Stopped stays stopped.
    QCOMPARE(Ask(devices, "status ZEL0 mode"), QStringLiteral("stopped"));

    QCOMPARE(Run(devices, "close ZEL0"), kNoError);
    QCOMPARE(devices.OpenDeviceCount(), std::size_t(0));
    QCOMPARE(Ask(devices, "status ZEL0 mode"), QStringLiteral("error %1").arg(kErrDeviceNotOpen));
}

void MciInterpreterTest::length_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("shortestMs");
    QTest::addColumn<int>("longestMs");

    QTest::newRow("WAV") << "$WAV" << kWavLengthMs << kWavLengthMs;
    // 2584 buffers of 1024 samples.
    QTest::newRow("WAV, one minute") << "$DIR/minute.wav" << 60'001 << 60'001;
    // The encoder adds its delay and padding to the tone.
    QTest::newRow("MP3") << "$MP3" << kToneMs << kToneMs + 120;
    QTest::newRow("MIDI") << "$MIDI" << 450 << 450 + 300;
}

// Lengths in milliseconds and in frames of 40 ms, both rounded up, so that "to <length>" reaches
// the end of the file.
void MciInterpreterTest::length() {
    QFETCH(QString, file);
    QFETCH(int, shortestMs);
    QFETCH(int, longestMs);

    GstDevices devices(GstDevices::FakeSink());
    QCOMPARE(Run(devices, Resolve("open " + file + " type MPEGVideo alias a")), kNoError);
    QCOMPARE(Ask(devices, "status a time format"), QStringLiteral("milliseconds"));
    const int ms = Ask(devices, "status a length").toInt();
    QVERIFY2(ms >= shortestMs && ms <= longestMs, qPrintable(QString::number(ms)));

    QCOMPARE(Run(devices, "set a time format frames"), kNoError);
    QCOMPARE(Ask(devices, "status a time format"), QStringLiteral("frames"));
    QCOMPARE(Ask(devices, "status a length").toInt(), (ms + kFrameMs - 1) / kFrameMs);

    QCOMPARE(Run(devices, "set a time format milliseconds"), kNoError);
    QCOMPARE(Ask(devices, "status a length").toInt(), ms);
}

void MciInterpreterTest::playStopsAtEndPosition_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");

    QTest::newRow("WAV, first half") << "$WAV" << 0 << 5;
    QTest::newRow("WAV, middle") << "$WAV" << 3 << 7;
    QTest::newRow("MP3, first frames") << "$MP3" << 0 << 4;
    QTest::newRow("MIDI, first half") << "$MIDI" << 0 << 6;
}

void MciInterpreterTest::playStopsAtEndPosition() {
    QFETCH(QString, file);
    QFETCH(int, from);
    QFETCH(int, to);

    GstDevices devices(GstDevices::FakeSink());
    QCOMPARE(Run(devices, Resolve("open " + file + " type MPEGVideo alias a")), kNoError);
    QCOMPARE(Run(devices, "set a time format frames"), kNoError);
    QCOMPARE(Run(devices, QStringLiteral("play a from %1 to %2").arg(from).arg(to)), kNoError);
    QCOMPARE(ModeAfterPlaying(devices, "a"), QStringLiteral("stopped"));
    const int position = Ask(devices, "status a position").toInt();
    QVERIFY2(position >= to - 1 && position <= to, qPrintable(QString::number(position)));
}

void MciInterpreterTest::modeWords() {
    GstDevices devices(GstDevices::FakeSink());
    QCOMPARE(Run(devices, Resolve("open $DIR/long.wav type MPEGVideo alias a")), kNoError);
    QCOMPARE(Ask(devices, "status a mode"), QStringLiteral("stopped"));
    QCOMPARE(Run(devices, "play a from 0"), kNoError);
    QCOMPARE(Ask(devices, "status a mode"), QStringLiteral("playing"));
    QCOMPARE(Run(devices, "pause a"), kNoError);
    QCOMPARE(Ask(devices, "status a mode"), QStringLiteral("paused"));
    QCOMPARE(Run(devices, "resume a"), kNoError);
    QCOMPARE(Ask(devices, "status a mode"), QStringLiteral("playing"));
    QCOMPARE(Run(devices, "stop a"), kNoError);
    QCOMPARE(Ask(devices, "status a mode"), QStringLiteral("stopped"));
    // Played again after a stop, it reaches its end on its own.
    QCOMPARE(Run(devices, "play a from 0"), kNoError);
    QCOMPARE(ModeAfterPlaying(devices, "a"), QStringLiteral("stopped"));
}

void MciInterpreterTest::volumeReadBack_data() {
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QString>("both");
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("right");

    QTest::newRow("as opened") << QStringList() << "1000"
                               << "1000"
                               << "1000";
    QTest::newRow("both") << QStringList{"setaudio a volume to 500"} << "500"
                          << "500"
                          << "500";
    QTest::newRow("silent") << QStringList{"setaudio a volume to 0"} << "0"
                            << "0"
                            << "0";
    QTest::newRow("left only") << QStringList{"setaudio a left volume to 200"} << "600"
                               << "200"
                               << "1000";
    QTest::newRow("right only") << QStringList{"setaudio a Right Volume to 0"} << "500"
                                << "1000"
                                << "0";
    QTest::newRow("both, then left")
        << QStringList{"setaudio a volume to 300", "setaudio a left volume to 100"} << "200"
        << "100"
        << "300";
    QTest::newRow("refused leaves it")
        << QStringList{"setaudio a volume to 700", "setaudio a volume to 1001"} << "700"
        << "700"
        << "700";
    QTest::newRow("upper case") << QStringList{"SETAUDIO A VOLUME TO 750"} << "750"
                                << "750"
                                << "750";
}

void MciInterpreterTest::volumeReadBack() {
    QFETCH(QStringList, commands);
    QFETCH(QString, both);
    QFETCH(QString, left);
    QFETCH(QString, right);

    GstDevices devices(GstDevices::FakeSink());
    QCOMPARE(Run(devices, Resolve("open $WAV type MPEGVideo alias a")), kNoError);
    for (const QString& command : commands) {
        Run(devices, command);
    }
    QCOMPARE(Ask(devices, "status a volume"), both);
    QCOMPARE(Ask(devices, "status a left volume"), left);
    QCOMPARE(Ask(devices, "status a right volume"), right);
    // And so while playing.
    QCOMPARE(Run(devices, "play a from 0"), kNoError);
    QCOMPARE(Ask(devices, "status a volume"), both);
}

void MciInterpreterTest::closeAll() {
    GstDevices devices(GstDevices::FakeSink());
    QCOMPARE(Run(devices, Resolve("open $WAV type MPEGVideo alias ZEL0")), kNoError);
    QCOMPARE(Run(devices, Resolve("open $MP3 type MPEGVideo alias ZEL1")), kNoError);
    QCOMPARE(Run(devices, Resolve("open $MIDI type MPEGVideo alias other")), kNoError);
    QCOMPARE(Run(devices, "play ZEL0 from 0"), kNoError);
    QCOMPARE(devices.OpenDeviceCount(), std::size_t(3));

    QCOMPARE(Run(devices, "Close All"), kNoError);
    QCOMPARE(devices.OpenDeviceCount(), std::size_t(0));
    for (const char* alias : {"ZEL0", "ZEL1", "other"}) {
        QCOMPARE(Run(devices, QStringLiteral("status %1 mode").arg(alias)), kErrDeviceNotOpen);
    }
    QCOMPARE(Run(devices, "close all"), kNoError);

    // The aliases are free again.
    QCOMPARE(Run(devices, Resolve("open $MP3 type MPEGVideo alias ZEL0")), kNoError);
    QCOMPARE(Ask(devices, "status ZEL0 mode"), QStringLiteral("stopped"));
}

void MciInterpreterTest::errors_data() {
    QTest::addColumn<bool>("openFirst");  // a device "a" holding the WAV file
    QTest::addColumn<QString>("command");
    QTest::addColumn<uint>("code");

    const uint cannotPlay = kErrCannotPlay;
    const uint notOpen = kErrDeviceNotOpen;
    const uint outOfRange = kErrOutOfRange;
    const uint badInteger = kErrBadInteger;
    QTest::newRow("unknown type") << false << "open $WAV type Projector alias a"
                                  << uint(kErrUnknownDeviceType);
    QTest::newRow("missing file") << false << "open $DIR/nothing.mp3 type MPEGVideo alias a"
                                  << uint(kErrFileNotFound);
    QTest::newRow("missing file as the channel layer says it")
        << false << "open  type MPEGVideo Alias a parent 460 Style 1073741824"
        << uint(kErrUnrecognizedKeyword);
    QTest::newRow("empty file") << false << "open $DIR/empty.mp3 type MPEGVideo alias a"
                                << cannotPlay;
    QTest::newRow("text file named .mp3")
        << false << "open $DIR/text.mp3 type MPEGVideo alias a" << cannotPlay;
    QTest::newRow("WAV header alone")
        << false << "open $DIR/header.wav type MPEGVideo alias a" << cannotPlay;
    QTest::newRow("folder") << false << "open $DIR/folder.mp3 type MPEGVideo alias a" << cannotPlay;
    QTest::newRow("alias all") << false << "open $WAV type MPEGVideo alias all" << outOfRange;
    QTest::newRow("alias in use") << true << "open $MP3 type MPEGVideo alias a"
                                  << uint(kErrAliasInUse);
    QTest::newRow("alias in use, other case")
        << true << "open $MP3 type MPEGVideo alias A" << uint(kErrAliasInUse);
    QTest::newRow("status of alias not open") << true << "status b mode" << notOpen;
    QTest::newRow("length of alias not open") << false << "status a length" << notOpen;
    QTest::newRow("play alias not open") << true << "play b from 0 to 5" << notOpen;
    QTest::newRow("close alias not open") << true << "close b" << notOpen;
    QTest::newRow("setaudio alias not open") << false << "setaudio a volume to 5" << notOpen;
    QTest::newRow("time format alias not open") << false << "set a time format frames" << notOpen;
    QTest::newRow("play to -1") << true << "play a from 0 to -1" << outOfRange;
    QTest::newRow("play to x") << true << "play a from 0 to x" << badInteger;
    QTest::newRow("play beyond the end") << true << "play a from 0 to 419" << outOfRange;
    QTest::newRow("play from beyond the end") << true << "play a from 500" << outOfRange;
    QTest::newRow("play backwards") << true << "play a from 300 to 100" << outOfRange;
    QTest::newRow("volume 1001") << true << "setaudio a volume to 1001" << outOfRange;
    QTest::newRow("volume -1") << true << "setaudio a left volume to -1" << outOfRange;
    QTest::newRow("volume not a number") << true << "setaudio a volume to half" << badInteger;
    QTest::newRow("unknown time format") << true << "set a time format hours" << outOfRange;
    QTest::newRow("unknown status") << true << "status a colour" << uint(kErrUnrecognizedKeyword);
    QTest::newRow("unknown verb") << true << "fly a" << uint(kErrUnrecognizedCommand);
}

// A refused command leaves nothing behind, and leaves an open device as it was.
void MciInterpreterTest::errors() {
    QFETCH(bool, openFirst);
    QFETCH(QString, command);
    QFETCH(uint, code);

    GstDevices devices(GstDevices::FakeSink(), std::chrono::seconds(3));
    if (openFirst) {
        QCOMPARE(Run(devices, Resolve("open $WAV type MPEGVideo alias a")), kNoError);
    }
    QCOMPARE(Run(devices, Resolve(command)), code);
    QCOMPARE(devices.OpenDeviceCount(), std::size_t(openFirst ? 1 : 0));
    if (openFirst) {
        QCOMPARE(Ask(devices, "status a mode"), QStringLiteral("stopped"));
        QCOMPARE(Ask(devices, "status a volume"), QStringLiteral("1000"));
        QCOMPARE(Ask(devices, "status a length"), QString::number(kWavLengthMs));
        QCOMPARE(Run(devices, "play a from 0 to 418"), kNoError);
        QCOMPARE(ModeAfterPlaying(devices, "a"), QStringLiteral("stopped"));
    } else {
        QCOMPARE(Run(devices, "status a mode"), kErrDeviceNotOpen);
    }
}

void MciInterpreterTest::damagedFiles_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("keepPercent");
    QTest::addColumn<int>("extraBytes");

    QTest::newRow("MP3, first bytes only") << "tone.mp3" << 0 << 100;
    QTest::newRow("MP3, first quarter") << "tone.mp3" << 25 << 0;
    QTest::newRow("MP3, half, cut inside a frame") << "tone.mp3" << 50 << 7;
    QTest::newRow("MP3, all but the last bytes") << "tone.mp3" << 100 << -50;
    QTest::newRow("WAV, cut inside a sample") << "tone.wav" << 50 << 3;
    QTest::newRow("MIDI, header alone") << "tune.mid" << 0 << 14;
    QTest::newRow("MIDI, cut inside its track") << "tune.mid" << 0 << 30;
}

// A damaged file either opens and plays to a stop, or is refused; it never hangs.
void MciInterpreterTest::damagedFiles() {
    QFETCH(QString, source);
    QFETCH(int, keepPercent);
    QFETCH(int, extraBytes);

    QFile original(Path(source));
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray bytes = original.readAll();
    const qsizetype keep = bytes.size() * keepPercent / 100 + extraBytes;
    const QString path = Path(QStringLiteral("cut%1-").arg(keep) + source);
    QVERIFY(MediaFixtures::MakeFile(path, bytes.left(keep)));

    GstDevices devices(GstDevices::FakeSink(), std::chrono::seconds(3));
    const MciError opened = Run(devices, "open " + path + " type MPEGVideo alias a");
    if (opened != kNoError) {
        QVERIFY2(opened == kErrCannotPlay || opened == kErrOpenTimeout,
                 qPrintable(QString::number(opened)));
        QCOMPARE(devices.OpenDeviceCount(), std::size_t(0));
        return;
    }
    QCOMPARE(Run(devices, "set a time format frames"), kNoError);
    const QString frames = Ask(devices, "status a length");
    QCOMPARE(Run(devices, "play a from 0 to " + frames), kNoError);
    QCOMPARE(ModeAfterPlaying(devices, "a"), QStringLiteral("stopped"));
    QCOMPARE(Run(devices, "close a"), kNoError);
}

void MciInterpreterTest::keywordsInAnyCase() {
    GstDevices devices(GstDevices::FakeSink());
    QCOMPARE(Run(devices, Resolve("OPEN $WAV TYPE mpegvideo ALIAS Zel0 PARENT 460 STYLE 1")),
             kNoError);
    QCOMPARE(Run(devices, "Set zel0 Time Format Frames"), kNoError);
    QCOMPARE(Ask(devices, "STATUS ZEL0 LENGTH"), QString::number(kWavLengthFrames));
    QCOMPARE(Run(devices, "SetAudio ZEL0 LEFT VOLUME TO 100"), kNoError);
    QCOMPARE(Ask(devices, "Status zEL0 Left Volume"), QStringLiteral("100"));
    QCOMPARE(Run(devices, "PLAY zEl0 FROM 0 TO 11"), kNoError);
    QCOMPARE(Ask(devices, "status ZEL0 MODE"), QStringLiteral("playing"));
    QCOMPARE(Run(devices, "CLOSE ZEL0"), kNoError);
    QCOMPARE(devices.OpenDeviceCount(), std::size_t(0));
}

// The channel layer sends some commands padded with blanks to a fixed length.
void MciInterpreterTest::paddedCommands() {
    GstDevices devices(GstDevices::FakeSink());
    const auto padded = [](const QString& command, int field) {
        return command.leftJustified(field, u' ');
    };
    QCOMPARE(Run(devices, padded(Resolve("open $WAV type MPEGVideo Alias ZEL0 parent 460 Style "
                                         "1073741824"),
                                 255)),
             kNoError);
    QCOMPARE(Run(devices, padded("setaudio ZEL0 Volume to 500", 128)), kNoError);
    QCOMPARE(Ask(devices, padded("status ZEL0 Volume", 128)), QStringLiteral("500"));
    QCOMPARE(Run(devices, "set ZEL0 time format frames"), kNoError);
    QCOMPARE(Run(devices, padded("play ZEL0 from 0 to 11", 128)), kNoError);
    QCOMPARE(Ask(devices, "status ZEL0 mode"), QStringLiteral("playing"));
}

void MciInterpreterTest::quotedNames() {
    GstDevices devices(GstDevices::FakeSink());
    QCOMPARE(Run(devices, Resolve("open \"$DIR/name with blanks.wav\" type MPEGVideo Alias "
                                  "\"my channel\" parent 460")),
             kNoError);
    QCOMPARE(Ask(devices, "status \"my channel\" mode"), QStringLiteral("stopped"));
    QCOMPARE(Ask(devices, "status \"MY CHANNEL\" length"), QStringLiteral("302"));
    QCOMPARE(Run(devices, "status my channel mode"), kErrUnrecognizedKeyword);
    QCOMPARE(Run(devices, "play \"my channel\" from 0"), kNoError);
    QCOMPARE(ModeAfterPlaying(devices, "\"my channel\""), QStringLiteral("stopped"));
    QCOMPARE(Run(devices, "close \"my channel\""), kNoError);
    QCOMPARE(devices.OpenDeviceCount(), std::size_t(0));

    // Unquoted, the name falls apart into words that mean nothing to open.
    QCOMPARE(Run(devices, Resolve("open $DIR/name with blanks.wav type MPEGVideo Alias b")),
             kErrUnrecognizedKeyword);
    QCOMPARE(devices.OpenDeviceCount(), std::size_t(0));
}

void MciInterpreterTest::fileDeletedWhilePlaying() {
    const QString path = Path("doomed.wav");
    QVERIFY(QFile::copy(Path("long.wav"), path));
    GstDevices devices(GstDevices::FakeSink());
    QCOMPARE(Run(devices, "open " + path + " type MPEGVideo alias a"), kNoError);
    QCOMPARE(Run(devices, "play a from 0"), kNoError);
    QVERIFY(QFile::remove(path));
    QCOMPARE(ModeAfterPlaying(devices, "a"), QStringLiteral("stopped"));
    QCOMPARE(Run(devices, "close a"), kNoError);
    QCOMPARE(Run(devices, "open " + path + " type MPEGVideo alias a"), kErrFileNotFound);
}

// When the sound output fails while a file plays, the device reports "stopped", never
// "playing", so the console moves on to the next file.
void MciInterpreterTest::outputFailureStops() {
    GstDevices devices([this] {
        lastSink_ = GstDevices::FakeSink()();
        return lastSink_;
    });
    QCOMPARE(Run(devices, Resolve("open $DIR/long.wav type MPEGVideo alias a")), kNoError);
    QVERIFY(lastSink_ != nullptr);
    QCOMPARE(Run(devices, "play a from 0"), kNoError);
    QCOMPARE(Ask(devices, "status a mode"), QStringLiteral("playing"));

    GError* error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_WRITE,
                                        "the sound server went away");
    gst_element_post_message(lastSink_,
                             gst_message_new_error(GST_OBJECT(lastSink_), error, "test"));
    g_error_free(error);

    QCOMPARE(Ask(devices, "status a mode"), QStringLiteral("stopped"));
    QCOMPARE(Run(devices, "play a from 0"), kErrDeviceFailed);
    QCOMPARE(Ask(devices, "status a mode"), QStringLiteral("stopped"));
    QCOMPARE(Run(devices, "close a"), kNoError);
    QCOMPARE(devices.OpenDeviceCount(), std::size_t(0));
}

void MciInterpreterTest::volumeReachesSamples_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<double>("left");  // level against the file played at 1000
    QTest::addColumn<double>("right");

    QTest::newRow("1000") << "$WAV" << QStringList{"setaudio a volume to 1000"} << 1.0 << 1.0;
    QTest::newRow("500") << "$WAV" << QStringList{"setaudio a volume to 500"} << 0.5 << 0.5;
    QTest::newRow("250") << "$WAV" << QStringList{"setaudio a volume to 250"} << 0.25 << 0.25;
    QTest::newRow("0") << "$WAV" << QStringList{"setaudio a volume to 0"} << 0.0 << 0.0;
    QTest::newRow("left 500") << "$WAV" << QStringList{"setaudio a left volume to 500"} << 0.5
                              << 1.0;
    QTest::newRow("left 0") << "$WAV" << QStringList{"setaudio a left volume to 0"} << 0.0 << 1.0;
    QTest::newRow("right 200") << "$WAV" << QStringList{"setaudio a right volume to 200"} << 1.0
                               << 0.2;
    QTest::newRow("both 400, left 200")
        << "$WAV" << QStringList{"setaudio a volume to 400", "setaudio a left volume to 200"} << 0.2
        << 0.4;
    QTest::newRow("MP3 500") << "$MP3" << QStringList{"setaudio a volume to 500"} << 0.5 << 0.5;
    QTest::newRow("MIDI 500") << "$MIDI" << QStringList{"setaudio a volume to 500"} << 0.5 << 0.5;
}

// Plays the file at full volume and once more after the commands, into a sink that keeps every
// sample, and compares the levels per side.
void MciInterpreterTest::volumeReachesSamples() {
    QFETCH(QString, file);
    QFETCH(QStringList, commands);
    QFETCH(double, left);
    QFETCH(double, right);

    GstDevices devices(MeasuringSink(&appSink_, false));
    QCOMPARE(Run(devices, Resolve("open " + file + " type MPEGVideo alias a")), kNoError);
    QVERIFY(appSink_ != nullptr);

    const auto playWhole = [&] {
        PullBlocks(appSink_, 0);
        if (Run(devices, "play a from 0") != kNoError ||
            ModeAfterPlaying(devices, "a") != "stopped") {
            return Levels{};
        }
        return Rms(PullBlocks(appSink_, 0));
    };
    // The synthesizer's first pass after opening is not quite like the later ones.
    playWhole();
    const Levels full = playWhole();
    QVERIFY(full.frames > 0);
    QVERIFY2(full.left > 0.005 && full.right > 0.005, qPrintable(QString::number(full.left)));

    for (const QString& command : commands) {
        QCOMPARE(Run(devices, command), kNoError);
    }
    const Levels set = playWhole();
    QVERIFY(set.frames > 0);
    const double leftRatio = set.left / full.left;
    const double rightRatio = set.right / full.right;
    const QByteArray ratios =
        QStringLiteral("left %1, right %2").arg(leftRatio).arg(rightRatio).toUtf8();
    QVERIFY2(std::abs(leftRatio - left) < 0.02, ratios.constData());
    QVERIFY2(std::abs(rightRatio - right) < 0.02, ratios.constData());
    if (left == 0.0) {
        QVERIFY2(set.left < 1e-6, ratios.constData());
    }
    if (right == 0.0) {
        QVERIFY2(set.right < 1e-6, ratios.constData());
    }
}

// A volume command reaches a device that is already playing.
void MciInterpreterTest::volumeChangesWhilePlaying() {
    GstDevices devices(MeasuringSink(&appSink_, true));
    QCOMPARE(Run(devices, Resolve("open $DIR/long.wav type MPEGVideo alias a")), kNoError);
    QVERIFY(appSink_ != nullptr);
    QCOMPARE(Run(devices, "play a from 0"), kNoError);

    // Wait for the first tenth of a second to come out, then silence the rest.
    std::vector<Levels> before;
    qint64 framesBefore = 0;
    QElapsedTimer timer;
    timer.start();
    while (framesBefore < 4410 && timer.elapsed() < kPlayLimitMs) {
        for (const Levels& block : PullBlocks(appSink_, 10 * GST_MSECOND)) {
            before.push_back(block);
            framesBefore += block.frames;
        }
    }
    QVERIFY(framesBefore >= 4410);
    QCOMPARE(Ask(devices, "status a mode"), QStringLiteral("playing"));
    QCOMPARE(Run(devices, "setaudio a volume to 0"), kNoError);
    QCOMPARE(ModeAfterPlaying(devices, "a"), QStringLiteral("stopped"));
    std::vector<Levels> after = PullBlocks(appSink_, 0);

    QVERIFY(Rms(before).left > 0.1);
    // The last tenth of a second is silent on both sides.
    std::vector<Levels> tail;
    qint64 tailFrames = 0;
    while (!after.empty() && tailFrames < 4410) {
        tailFrames += after.back().frames;
        tail.push_back(after.back());
        after.pop_back();
    }
    QVERIFY(tailFrames >= 4410);
    const Levels end = Rms(tail);
    QCOMPARE(end.left, 0.0);
    QCOMPARE(end.right, 0.0);
}

// Opening and closing again and again, as the console does for days, holds on to nothing: no
// file descriptors, no threads.
void MciInterpreterTest::soak() {
    GstDevices devices(GstDevices::FakeSink(), std::chrono::seconds(3));
    const QString wav = Path("short.wav");
    QVERIFY(MediaFixtures::MakeWav(wav, 100));
    const QString open = "open " + wav + " type MPEGVideo Alias ZEL0 parent 460 Style 1073741824";
    const auto cycle = [&](int i) {
        if (Run(devices, open) != kNoError || Run(devices, "play ZEL0 from 0") != kNoError) {
            return false;
        }
        // Now and then let a file play to its end, as the console does.
        if (i % 100 == 0 && ModeAfterPlaying(devices, "ZEL0") != u"stopped") {
            return false;
        }
        return Run(devices, "status ZEL0 mode") == kNoError &&
               Run(devices, "close ZEL0") == kNoError;
    };
    // Warm up: plugins loaded, thread pools filled.
    for (int i = 1; i <= 20; ++i) {
        QVERIFY(cycle(i));
    }
    const qsizetype files = EntriesIn("/proc/self/fd");
    const qsizetype threads = EntriesIn("/proc/self/task");

    for (int i = 1; i <= 1000; ++i) {
        QVERIFY2(cycle(i), qPrintable(QString::number(i)));
    }
    for (int i = 0; i < 1000; ++i) {
        QCOMPARE(Run(devices, "open " + Path("missing.mp3") + " type MPEGVideo alias m"),
                 kErrFileNotFound);
    }
    for (int i = 0; i < 100; ++i) {
        QCOMPARE(Run(devices, "open " + Path("text.mp3") + " type MPEGVideo alias m"),
                 kErrCannotPlay);
    }
    QCOMPARE(devices.OpenDeviceCount(), std::size_t(0));
    const qsizetype filesAfter = EntriesIn("/proc/self/fd");
    const qsizetype threadsAfter = EntriesIn("/proc/self/task");
    QVERIFY2(filesAfter <= files + 2,
             qPrintable(QStringLiteral("%1 descriptors, then %2").arg(files).arg(filesAfter)));
    QVERIFY2(threadsAfter <= threads + 4,
             qPrintable(QStringLiteral("%1 threads, then %2").arg(threads).arg(threadsAfter)));
}
