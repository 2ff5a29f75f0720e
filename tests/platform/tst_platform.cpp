#include <gst/app/gstappsink.h>

#include <QtTest>
#include <cerrno>
#include <cmath>

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

// clang-format off
struct FindRow { QString path; bool found; int attributes; };  // attributes as Attributes() gives them
struct MatchRow { QString pattern, name; bool expected; };
struct ParseRow { QString text; MciError code; QString fields = {}; };  // fields as Fields() writes them
struct PlayRow { QString file; int shortestMs, longestMs; };
struct ErrorRow { bool openFirst; QString command; MciError code; };  // openFirst: "a" holding tone.wav
struct VolumeRow { QString command; double left, right; };  // level against the file played at 1000
// clang-format on

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
        QTest::addColumn<FindRow>("r");
        const int folder = Files::kAttributeDirectory;
        // clang-format off
        QTest::newRow("folder") << FindRow{"music", true, folder};
        QTest::newRow("trailing separator") << FindRow{"music/", false, folder};
        QTest::newRow("file") << FindRow{"plain.txt", true, 0};
        QTest::newRow("star matches") << FindRow{"music/*.mp3", true, -1};
        QTest::newRow("question mark matches") << FindRow{"music/?.mp3", true, -1};
        QTest::newRow("no match") << FindRow{"music/*.wav", false, -1};
        QTest::newRow("missing") << FindRow{"missing", false, -1};
        QTest::newRow("pattern in root") << FindRow{"/*", true, -1};
        QTest::newRow("pattern in current folder") << FindRow{"*.txt", true, -1};
        // clang-format on
    }
    // Only FindFirstMatch reads patterns; Attributes and ShortPathName take one for a missing file.
    void findFirstMatch() {
        QFETCH(FindRow, r);
        QCOMPARE(Files::FindFirstMatch(r.path), r.found);
        QCOMPARE(Files::Attributes(r.path), r.attributes);
        QCOMPARE(Files::ShortPathName(r.path), r.attributes < 0 ? QString() : r.path);
    }

    void wildcardMatch_data() {
        QTest::addColumn<MatchRow>("r");
        // clang-format off
        QTest::newRow("extension must end the name") << MatchRow{"*.mp3", "song.mp3.bak", false};
        QTest::newRow("prefix is not enough") << MatchRow{"song", "song.mp3", false};
        QTest::newRow("trailing star matches nothing") << MatchRow{"song*", "song", true};
        QTest::newRow("case ignored") << MatchRow{"*.MP3", "song.mp3", true};
        QTest::newRow("case ignored beyond ASCII") << MatchRow{"É*", "école", true};
        QTest::newRow("question mark needs a character") << MatchRow{"??", "a", false};
        QTest::newRow("star back-tracks") << MatchRow{"*ab", "aaab", true};
        QTest::newRow("stars keep their order") << MatchRow{"a*b*c", "acb", false};
        QTest::newRow("dot and brackets are literal") << MatchRow{"[a].c", "abc", false};
        // clang-format on
    }
    void wildcardMatch() {
        QFETCH(MatchRow, r);
        QCOMPARE(Files::WildcardMatch(r.pattern, r.name), r.expected);
    }

    // Made, and refused with its text, through CreatePath in the support test.
    void createFolderWithoutText() {
        QCOMPARE(Files::CreateFolder("missing/sub", nullptr), ENOENT);
    }

    void parse_data() {
        QTest::addColumn<ParseRow>("r");
        const QString tail = " type MPEGVideo Alias ZEL0 parent 460 Style 1073741824";
        // clang-format off
        QTest::newRow("open, padded") << ParseRow{"open /m/a.mp3" + tail + QString(200, u' '), kNoError, "open|/m/a.mp3|MPEGVideo|ZEL0|-|-|000|0|0"};
        QTest::newRow("open, quoted, upper case") << ParseRow{"OPEN \"/m/my song.mp3\" TYPE t ALIAS \"my dev\"", kNoError, "open|/m/my song.mp3|t|my dev|-|-|000|0|0"};
        QTest::newRow("open, alias is the file") << ParseRow{"open /m/a.mp3 type t", kNoError, "open|/m/a.mp3|t|/m/a.mp3|-|-|000|0|0"};
        QTest::newRow("play, mixed case") << ParseRow{"Play ZEL0 FROM 10 To 20", kNoError, "play|ZEL0|||10|20|000|0|0"};
        QTest::newRow("play bare") << ParseRow{"play ZEL0", kNoError, "play|ZEL0|||-|-|000|0|0"};
        QTest::newRow("CLOSE ALL") << ParseRow{"CLOSE ALL", kNoError, "close|ALL|||-|-|000|0|1"};
        QTest::newRow("status, trailing blanks") << ParseRow{"STATUS ZEL0 MODE  \t ", kNoError, "status|ZEL0|||-|-|000|0|0"};
        QTest::newRow("status left volume") << ParseRow{"status ZEL0 left Volume", kNoError, "status|ZEL0|||-|-|310|0|0"};
        QTest::newRow("set frames") << ParseRow{"set ZEL0 Time Format FRAMES", kNoError, "set|ZEL0|||-|-|001|0|0"};
        QTest::newRow("setaudio right 1000") << ParseRow{"SETAUDIO ZEL0 right VOLUME TO 1000", kNoError, "setaudio|ZEL0|||-|-|020|1000|0"};
        QTest::newRow("empty") << ParseRow{"   ", kErrUnrecognizedCommand};
        QTest::newRow("unknown verb") << ParseRow{"fly ZEL0", kErrUnrecognizedCommand};
        QTest::newRow("verb alone") << ParseRow{"play", kErrMissingParameter};
        QTest::newRow("unterminated quote") << ParseRow{"open \"/m/a b.mp3 type t", kErrUnterminatedQuote};
        QTest::newRow("to -1") << ParseRow{"play ZEL0 from 0 to -1", kErrOutOfRange};
        QTest::newRow("bad integer") << ParseRow{"play ZEL0 to 1x", kErrBadInteger};
        QTest::newRow("volume 1001") << ParseRow{"setaudio ZEL0 volume to 1001", kErrOutOfRange};
        QTest::newRow("unknown keyword") << ParseRow{"play ZEL0 at 5", kErrUnrecognizedKeyword};
        QTest::newRow("side on mode") << ParseRow{"status ZEL0 left mode", kErrUnrecognizedKeyword};
        QTest::newRow("word after item") << ParseRow{"status ZEL0 mode now", kErrUnrecognizedKeyword};
        QTest::newRow("alias all") << ParseRow{"open /m/a.mp3 alias ALL", kErrOutOfRange};
        // clang-format on
    }
    void parse() {
        QFETCH(ParseRow, r);
        Command command;
        QCOMPARE(ParseCommand(r.text.toStdString(), command), r.code);
        QCOMPARE(r.code == kNoError ? Fields(command) : QString(), r.fields);
    }

    void playToEnd_data() {
        QTest::addColumn<PlayRow>("r");
        QTest::newRow("WAV") << PlayRow{"tone.wav", 418, 418};
        QTest::newRow("MP3, with encoder delay") << PlayRow{"tone.mp3", 400, 520};
        QTest::newRow("MIDI") << PlayRow{"tune.mid", 450, 750};
    }
    // The console's whole use of a device: open, length in frames, play 0 to it, poll, close.
    void playToEnd() {
        QFETCH(PlayRow, r);
        GstDevices d(GstDevices::FakeSink());
        QCOMPARE(Ask(d, "open " + r.file + " type MPEGVideo Alias ZEL0 parent 460"), QString());
        const int ms = Ask(d, "status ZEL0 length").toInt();
        QVERIFY2(ms >= r.shortestMs && ms <= r.longestMs, qPrintable(QString::number(ms)));
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
        QTest::addColumn<ErrorRow>("r");
        // clang-format off
        QTest::newRow("unknown type") << ErrorRow{false, "open tone.wav type Projector alias a", kErrUnknownDeviceType};
        QTest::newRow("missing file") << ErrorRow{false, "open nothing.mp3 type MPEGVideo alias a", kErrFileNotFound};
        QTest::newRow("empty file") << ErrorRow{false, "open empty.mp3 type MPEGVideo alias a", kErrCannotPlay};
        QTest::newRow("alias in use, other case") << ErrorRow{true, "open tone.mp3 type MPEGVideo alias A", kErrAliasInUse};
        QTest::newRow("alias not open") << ErrorRow{true, "status b mode", kErrDeviceNotOpen};
        QTest::newRow("close alias not open") << ErrorRow{true, "close b", kErrDeviceNotOpen};
        QTest::newRow("to beyond the length") << ErrorRow{true, "play a from 0 to 419", kErrOutOfRange};
        // clang-format on
    }
    // A refused command leaves nothing open, and an open device as it was.
    void errors() {
        QFETCH(ErrorRow, r);
        GstDevices d(GstDevices::FakeSink(), std::chrono::seconds(3));
        QVERIFY(!r.openFirst || Ask(d, "open tone.wav type MPEGVideo alias a").isEmpty());
        QCOMPARE(Ask(d, r.command), Refused(r.code));
        QCOMPARE(d.OpenDeviceCount(), std::size_t(r.openFirst ? 1 : 0));
        QCOMPARE(Ask(d, "status a mode"), r.openFirst ? "stopped" : Refused(kErrDeviceNotOpen));
    }

    void volumeReachesSamples_data() {
        QTest::addColumn<VolumeRow>("r");
        QTest::newRow("500") << VolumeRow{"setaudio a volume to 500", 0.5, 0.5};
        QTest::newRow("0 is silent") << VolumeRow{"setaudio a volume to 0", 0.0, 0.0};
        QTest::newRow("left only") << VolumeRow{"setaudio a left volume to 500", 0.5, 1.0};
    }
    void volumeReachesSamples() {
        QFETCH(VolumeRow, r);
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
        QCOMPARE(Ask(d, r.command), QString());
        const Levels set = playWhole();
        gst_object_unref(sink);
        QVERIFY(full.frames > 0 && set.frames > 0 && full.left > 0.005);
        const double left = set.left / full.left, right = set.right / full.right;
        QVERIFY2(std::abs(left - r.left) < 0.02 && std::abs(right - r.right) < 0.02,
                 qPrintable(QString::number(left) + ' ' + QString::number(right)));
        QVERIFY(r.left > 0.0 || set.left < 1e-6);
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
