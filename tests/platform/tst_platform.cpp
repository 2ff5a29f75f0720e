#include <gst/app/gstappsink.h>

#include <QtTest>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "MediaFixtures.h"
#include "platform/files.h"
#include "platform/mci/commandline.h"
#include "platform/mci/gstdevices.h"

using namespace Platform::Mci;
namespace Files = Platform::Files;

namespace {

QString Refused(MciError code) {
    return QStringLiteral("error %1").arg(code);
}

// The reply of a command, or "error <code>" when it is refused.
QString Ask(GstDevices& devices, const QString& command) {
    std::string reply;
    const MciError result = devices.Execute(command.toStdString(), reply);
    return result == kNoError ? QString::fromStdString(reply) : Refused(result);
}

// Polls the mode as the console does until the device leaves "playing"; the bound only keeps a
// device that never stops from hanging the test.
QString ModeAfterPlaying(GstDevices& devices, const QString& alias) {
    QString mode;
    for (int i = 0; i < 2000 && (mode = Ask(devices, "status " + alias + " mode")) == u"playing";
         ++i) {
        QThread::msleep(5);
    }
    return mode;
}

// verb|device|type|alias|from|to|item side timeFormat|volume|all
QString Fields(const Command& c) {
    static const char* const kVerbs[] = {"open", "close",  "play", "pause",   "resume",
                                         "stop", "status", "set",  "setaudio"};
    const auto n = [](auto v) { return v ? std::to_string(*v) : std::string("-"); };
    return QString::asprintf("%s|%s|%s|%s|%s|%s|%d%d%d|%lld|%d", kVerbs[int(c.verb)],
                             c.device.c_str(), c.type.c_str(), c.alias.c_str(), n(c.from).c_str(),
                             n(c.to).c_str(), int(c.item), int(c.side), int(c.timeFormat),
                             static_cast<long long>(c.volume), int(c.all));
}

struct Levels {
    double left = 0, right = 0, frames = 0;
};

// The root-mean-square level per side of every stereo float sample the appsink holds.
Levels Drain(GstElement* sink) {
    Levels sum;
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 0)) {
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            const auto* f = reinterpret_cast<const float*>(map.data);
            for (gsize i = 0; i + 1 < map.size / sizeof(float); i += 2, ++sum.frames) {
                sum.left += double(f[i]) * f[i];
                sum.right += double(f[i + 1]) * f[i + 1];
            }
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
    }
    const double n = std::max(sum.frames, 1.0);
    return {std::sqrt(sum.left / n), std::sqrt(sum.right / n), sum.frames};
}

}  // namespace

class PlatformTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;  // the current folder: rows and commands name files relatively

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid() && QDir::setCurrent(dir_.path()) && QDir().mkpath("music"));
        for (const char* name : {"music/a.mp3", "music/Song.MP3", "plain.txt"}) {
            QVERIFY(MediaFixtures::MakeFile(name, "x"));
        }
        QVERIFY(MediaFixtures::MakeFile("empty.mp3", {}));
        QVERIFY(MediaFixtures::MakeFile("text.mp3", QByteArray("No song.\n").repeated(99)));
        // 18 buffers of 1024 samples at 44.1 kHz: 417.96 ms.
        QVERIFY(MediaFixtures::MakeWav("tone.wav", 400));
        QVERIFY(MediaFixtures::MakeMp3("tone.mp3", 400));
        QVERIFY(MediaFixtures::MakeMidi("tune.mid", {60, 64, 67}, 150));
    }

    void findFirstMatch_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("expected");
        // clang-format off
        QTest::newRow("folder") << "music" << true;
        QTest::newRow("trailing separator") << "music/" << false;
        QTest::newRow("star matches") << "music/*.mp3" << true;
        QTest::newRow("question mark matches") << "music/?.mp3" << true;
        QTest::newRow("no match") << "music/*.wav" << false;
        QTest::newRow("missing") << "missing" << false;
        QTest::newRow("bare root") << "/" << false;
        QTest::newRow("pattern in root") << "/*" << true;
        QTest::newRow("pattern in current folder") << "*.txt" << true;
        // clang-format on
    }
    void findFirstMatch() {
        QFETCH(QString, path);
        QFETCH(bool, expected);
        QCOMPARE(Files::FindFirstMatch(path), expected);
    }

    void wildcardMatch_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("expected");
        // clang-format off
        QTest::newRow("extension") << "*.mp3" << "song.mp3" << true;
        QTest::newRow("extension must end the name") << "*.mp3" << "song.mp3.bak" << false;
        QTest::newRow("prefix is not enough") << "song" << "song.mp3" << false;
        QTest::newRow("trailing star matches nothing") << "song*" << "song" << true;
        QTest::newRow("case ignored") << "*.MP3" << "song.mp3" << true;
        QTest::newRow("case ignored beyond ASCII") << "É*" << "école" << true;
        QTest::newRow("question mark needs a character") << "??" << "a" << false;
        QTest::newRow("star back-tracks") << "*ab" << "aaab" << true;
        QTest::newRow("stars keep their order") << "a*b*c" << "acb" << false;
        QTest::newRow("dot and brackets are literal") << "[a].c" << "abc" << false;
        // clang-format on
    }
    void wildcardMatch() {
        QFETCH(QString, pattern);
        QFETCH(QString, name);
        QFETCH(bool, expected);
        QCOMPARE(Files::WildcardMatch(pattern, name), expected);
    }

    void shortNameAttributesAndFolders() {
        QCOMPARE(Files::ShortPathName(QString("music/a.mp3")), QStringLiteral("music/a.mp3"));
        QCOMPARE(Files::ShortPathName(QString("missing")), QString());
        QCOMPARE(Files::Attributes("music"), Files::kAttributeDirectory);
        QCOMPARE(Files::Attributes("plain.txt"), 0);
        QCOMPARE(Files::Attributes("missing"), -1);
        QString text;
        QCOMPARE(Files::CreateFolder("new", &text), 0);
        QVERIFY(QFileInfo("new").isDir());
        QCOMPARE(Files::CreateFolder("plain.txt/sub", &text), ENOTDIR);
        QCOMPARE(text, QString::fromLocal8Bit(std::strerror(ENOTDIR)));
        QCOMPARE(Files::CreateFolder("missing/sub", nullptr), ENOENT);
    }

    void parse_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("code");
        QTest::addColumn<QString>("fields");  // as Fields() writes them, when parsed
        const QString tail = " type MPEGVideo Alias ZEL0 parent 460 Style 1073741824";
        // clang-format off
        QTest::newRow("open, padded") << "open /m/a.mp3" + tail + QString(200, u' ') << 0u << "open|/m/a.mp3|MPEGVideo|ZEL0|-|-|000|0|0";
        QTest::newRow("open, upper case") << "OPEN /m/a.mp3 TYPE x ALIAS z" << 0u << "open|/m/a.mp3|x|z|-|-|000|0|0";
        QTest::newRow("open, quoted") << "open \"/m/my song.mp3\" type t alias \"my dev\"" << 0u << "open|/m/my song.mp3|t|my dev|-|-|000|0|0";
        QTest::newRow("open, alias is the file") << "open /m/a.mp3 type t" << 0u << "open|/m/a.mp3|t|/m/a.mp3|-|-|000|0|0";
        QTest::newRow("play, mixed case") << "Play ZEL0 FROM 10 To 20" << 0u << "play|ZEL0|||10|20|000|0|0";
        QTest::newRow("play bare") << "play ZEL0" << 0u << "play|ZEL0|||-|-|000|0|0";
        QTest::newRow("CLOSE ALL") << "CLOSE ALL" << 0u << "close|ALL|||-|-|000|0|1";
        QTest::newRow("status, trailing blanks") << "STATUS ZEL0 MODE  \t " << 0u << "status|ZEL0|||-|-|000|0|0";
        QTest::newRow("status left volume") << "status ZEL0 left Volume" << 0u << "status|ZEL0|||-|-|310|0|0";
        QTest::newRow("set frames") << "set ZEL0 Time Format FRAMES" << 0u << "set|ZEL0|||-|-|001|0|0";
        QTest::newRow("setaudio right 1000") << "SETAUDIO ZEL0 right VOLUME TO 1000" << 0u << "setaudio|ZEL0|||-|-|020|1000|0";
        QTest::newRow("empty") << "   " << uint(kErrUnrecognizedCommand) << "";
        QTest::newRow("unknown verb") << "fly ZEL0" << uint(kErrUnrecognizedCommand) << "";
        QTest::newRow("verb alone") << "play" << uint(kErrMissingParameter) << "";
        QTest::newRow("unterminated quote") << "open \"/m/a b.mp3 type t" << uint(kErrUnterminatedQuote) << "";
        QTest::newRow("to -1") << "play ZEL0 from 0 to -1" << uint(kErrOutOfRange) << "";
        QTest::newRow("bad integer") << "play ZEL0 to 1x" << uint(kErrBadInteger) << "";
        QTest::newRow("volume 1001") << "setaudio ZEL0 volume to 1001" << uint(kErrOutOfRange) << "";
        QTest::newRow("unknown keyword") << "play ZEL0 at 5" << uint(kErrUnrecognizedKeyword) << "";
        QTest::newRow("side on mode") << "status ZEL0 left mode" << uint(kErrUnrecognizedKeyword) << "";
        QTest::newRow("word after item") << "status ZEL0 mode now" << uint(kErrUnrecognizedKeyword) << "";
        QTest::newRow("alias all") << "open /m/a.mp3 alias ALL" << uint(kErrOutOfRange) << "";
        // clang-format on
    }
    void parse() {
        QFETCH(QString, text);
        QFETCH(uint, code);
        QFETCH(QString, fields);
        Command command;
        QCOMPARE(ParseCommand(text.toStdString(), command), code);
        QCOMPARE(code == kNoError ? Fields(command) : QString(), fields);
    }

    void playToEnd_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("shortestMs");
        QTest::addColumn<int>("longestMs");
        // clang-format off
        QTest::newRow("WAV") << "tone.wav" << 418 << 418;
        QTest::newRow("MP3, with encoder delay") << "tone.mp3" << 400 << 520;
        QTest::newRow("MIDI") << "tune.mid" << 450 << 750;
        // clang-format on
    }
    // The console's whole use of a device: open, length in frames, play 0 to it, poll, close.
    void playToEnd() {
        QFETCH(QString, file);
        QFETCH(int, shortestMs);
        QFETCH(int, longestMs);
        GstDevices d(GstDevices::FakeSink());
        QCOMPARE(Ask(d, "open " + file + " type MPEGVideo Alias ZEL0 parent 460"), QString());
        const int ms = Ask(d, "status ZEL0 length").toInt();
        QVERIFY2(ms >= shortestMs && ms <= longestMs, qPrintable(QString::number(ms)));
        QCOMPARE(Ask(d, "set ZEL0 time format frames"), QString());
        const QString frames = Ask(d, "status ZEL0 length");
        QCOMPARE(frames.toInt(), (ms + 39) / 40);  // rounded up, so "to <length>" is the end
        QCOMPARE(Ask(d, "play ZEL0 from 0 to " + frames), QString());
        QCOMPARE(Ask(d, "status ZEL0 mode"), QStringLiteral("playing"));
        QCOMPARE(ModeAfterPlaying(d, "ZEL0"), QStringLiteral("stopped"));
        QVERIFY(Ask(d, "status ZEL0 position").toInt() >= frames.toInt() - 2);
        // A "to" short of the end stops there.
        QCOMPARE(Ask(d, "play ZEL0 from 0 to 5"), QString());
        QCOMPARE(ModeAfterPlaying(d, "ZEL0"), QStringLiteral("stopped"));
        QVERIFY(qAbs(Ask(d, "status ZEL0 position").toInt() - 5) <= 1);
        QCOMPARE(Ask(d, "close zel0"), QString());
        QCOMPARE(d.OpenDeviceCount(), std::size_t(0));
    }

    void errors_data() {
        QTest::addColumn<bool>("openFirst");  // "a" holding tone.wav
        QTest::addColumn<QString>("command");
        QTest::addColumn<uint>("code");
        // clang-format off
        QTest::newRow("unknown type") << false << "open tone.wav type Projector alias a" << uint(kErrUnknownDeviceType);
        QTest::newRow("missing file") << false << "open nothing.mp3 type MPEGVideo alias a" << uint(kErrFileNotFound);
        QTest::newRow("empty file") << false << "open empty.mp3 type MPEGVideo alias a" << uint(kErrCannotPlay);
        QTest::newRow("text named .mp3") << false << "open text.mp3 type MPEGVideo alias a" << uint(kErrCannotPlay);
        QTest::newRow("alias in use, other case") << true << "open tone.mp3 type MPEGVideo alias A" << uint(kErrAliasInUse);
        QTest::newRow("alias not open") << true << "status b mode" << uint(kErrDeviceNotOpen);
        QTest::newRow("close alias not open") << true << "close b" << uint(kErrDeviceNotOpen);
        QTest::newRow("to beyond the length") << true << "play a from 0 to 419" << uint(kErrOutOfRange);
        // clang-format on
    }
    // A refused command leaves nothing open, and an open device as it was.
    void errors() {
        QFETCH(bool, openFirst);
        QFETCH(QString, command);
        QFETCH(uint, code);
        GstDevices d(GstDevices::FakeSink(), std::chrono::seconds(3));
        QVERIFY(!openFirst || Ask(d, "open tone.wav type MPEGVideo alias a").isEmpty());
        QCOMPARE(Ask(d, command), Refused(code));
        QCOMPARE(d.OpenDeviceCount(), std::size_t(openFirst ? 1 : 0));
        QCOMPARE(Ask(d, "status a mode"), openFirst ? "stopped" : Refused(kErrDeviceNotOpen));
    }

    void volumeReachesSamples_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<double>("left");  // level against the same file played at 1000
        QTest::addColumn<double>("right");
        // clang-format off
        QTest::newRow("500") << "setaudio a volume to 500" << 0.5 << 0.5;
        QTest::newRow("0 is silent") << "setaudio a volume to 0" << 0.0 << 0.0;
        QTest::newRow("left only") << "setaudio a left volume to 500" << 0.5 << 1.0;
        // clang-format on
    }
    void volumeReachesSamples() {
        QFETCH(QString, command);
        QFETCH(double, left);
        QFETCH(double, right);
        GstElement* sink = nullptr;  // keeps every sample, as stereo floats
        GstDevices d([&sink] {
            GstElement* bin = gst_parse_bin_from_description(
                "audioconvert ! audio/x-raw,format=F32LE,layout=interleaved,channels=2 ! "
                "appsink name=measure sync=false wait-on-eos=false",
                TRUE, nullptr);
            sink = gst_bin_get_by_name(GST_BIN(bin), "measure");
            return bin;
        });
        QVERIFY(Ask(d, "open tone.wav type MPEGVideo alias a").isEmpty() && sink != nullptr);
        const auto playWhole = [&] {
            Drain(sink);
            const bool ok =
                Ask(d, "play a from 0").isEmpty() && ModeAfterPlaying(d, "a") == u"stopped";
            return ok ? Drain(sink) : Levels{};
        };
        const Levels full = playWhole();
        QCOMPARE(Ask(d, command), QString());
        const Levels set = playWhole();
        gst_object_unref(sink);
        QVERIFY(full.frames > 0 && set.frames > 0 && full.left > 0.005);
        const double l = set.left / full.left;
        const double r = set.right / full.right;
        QVERIFY2(std::abs(l - left) < 0.02 && std::abs(r - right) < 0.02,
                 qPrintable(QString::number(l) + ' ' + QString::number(r)));
        QVERIFY(left > 0.0 || set.left < 1e-6);
    }

    // The end of a file and a failure reach the notice handler from the event loop, never inside a
    // command. A device closed at its end keeps its stream a moment; one closed playing does not.
    void notices() {
        QCoreApplication::processEvents();  // what earlier cases' devices posted
        GstDevices d(GstDevices::FakeSink());
        QStringList heard;
        SetNoticeHandler([&](const std::string& alias, Notice notice) {
            heard << QString::fromStdString(alias) +
                         (notice == Notice::Ended ? " ended" : " failed");
        });
        const auto reset = qScopeGuard([] { SetNoticeHandler({}); });
        QCOMPARE(Ask(d, "open tone.wav type MPEGVideo alias Tone"), "");
        QCOMPARE(Ask(d, "play Tone to 100"), "");
        QTRY_COMPARE(heard, QStringList{"Tone ended"});
        QCOMPARE(Ask(d, "status tone mode"), "stopped");  // the bus was read by the watch already
        Ask(d, "close tone");
        QCOMPARE(d.LingeringDeviceCount(), std::size_t(1));
        for (const char* command : {"open tone.wav alias long", "play long", "close long"})
            QCOMPARE(Ask(d, command), "");
        QCOMPARE(d.LingeringDeviceCount(), std::size_t(1));
        QTRY_COMPARE(d.LingeringDeviceCount(), std::size_t(0));
        QCOMPARE(heard.size(), 1);
    }

    // Opening and closing for days, as the console does, keeps no descriptors, refused or not.
    void soak() {
        GstDevices d(GstDevices::FakeSink(), std::chrono::seconds(3));
        const auto cycle = [&](int i) {
            return Ask(d, "open tone.wav type MPEGVideo Alias ZEL0 parent 460").isEmpty() &&
                   Ask(d, "play ZEL0 from 0").isEmpty() &&
                   (i % 50 != 0 || ModeAfterPlaying(d, "ZEL0") == u"stopped") &&
                   Ask(d, "close ZEL0").isEmpty() &&
                   Ask(d, "open text.mp3 type MPEGVideo alias t") == Refused(kErrCannotPlay);
        };
        const auto descriptors = [] {
            return QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System).size();
        };
        for (int i = 1; i <= 20; ++i) {  // warm-up: plugins loaded, thread pools filled
            QVERIFY(cycle(i));
        }
        const qsizetype before = descriptors();
        for (int i = 1; i <= 300; ++i) {
            QVERIFY2(cycle(i), qPrintable(QString::number(i)));
        }
        QCOMPARE(d.OpenDeviceCount(), std::size_t(0));
        QTRY_COMPARE(d.LingeringDeviceCount(), std::size_t(0));
        QVERIFY2(descriptors() <= before + 2, qPrintable(QString::number(before)));
    }
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "tst_platform.moc"
