#include <gst/app/gstappsink.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QtTest>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <vector>

#include "MediaFixtures.h"
#include "TestHome.h"
#include "platform/files.h"
#include "platform/mci/commandline.h"
#include "platform/mci/decoder.h"
#include "platform/mci/gstdevices.h"
#include "platform/mci/playlist.h"

using namespace Platform::Mci;
namespace Files = Platform::Files;
namespace Playlist = Platform::Mci::Playlist;

namespace {

constexpr const char* kUntimed =
    "the sanitizers' allocator keeps no real time: the samples are not compared";

QString Refused(MciError code) {
    return QStringLiteral("error %1").arg(code);
}

// The reply of a command, or "error <code>" when it is refused.
QString Ask(GstDevices& devices, const QString& command) {
    std::string reply;
    const MciError result = devices.Execute(command.toStdString(), reply);
    return result == kNoError ? QString::fromStdString(reply) : Refused(result);
}

// Polls the mode until the device leaves "playing", with no event loop: the command alone reads
// the bus. The bound only keeps a device that never stops from hanging the test.
bool Stops(GstDevices& devices, const QString& alias) {
    const QDeadlineTimer bound(10000);
    while (Ask(devices, "status " + alias + " mode") == u"playing" && !bound.hasExpired())
        QThread::msleep(5);
    return Ask(devices, "status " + alias + " mode") == u"stopped";
}

// Devices that keep every notice, playing to `output` or else to a sink that keeps every sample.
// Each command waits until its device is ready, however slow the build (the sanitizers' is), but
// for a rig that says how long.
struct Rig : GstDevices {
    explicit Rig(SinkFactory output = {},
                 std::chrono::milliseconds waitOnLoop = std::chrono::seconds(5))
        : GstDevices(output ? std::move(output)
                            : SinkFactory([this] { return MediaFixtures::MakeSampleSink(sink); }),
                     std::chrono::seconds(5), {}, waitOnLoop) {
        // Notices a rig before this one left on their way reach no one, not this rig.
        QCoreApplication::processEvents();
        SetNoticeHandler([this](const std::string& alias, Notice n) {
            notices << QString::fromStdString(alias) + (n == Notice::Ended    ? " ended"
                                                        : n == Notice::Failed ? " failed"
                                                                              : " advanced");
        });
    }
    ~Rig() override {
        SetNoticeHandler({});
        gst_clear_object(&sink);
    }
    // Each channel of everything the sample sink has taken in so far.
    std::array<std::vector<float>, 2> Channels() {
        std::array<std::vector<float>, 2> channels;
        while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 0)) {
            GstBuffer* buffer = gst_sample_get_buffer(sample);
            std::vector<float> f(gst_buffer_get_size(buffer) / sizeof(float));
            gst_buffer_extract(buffer, 0, f.data(), f.size() * sizeof(float));
            for (std::size_t i = 0; i < f.size(); ++i)
                channels[i % 2].push_back(f[i]);
            gst_sample_unref(sample);
        }
        return channels;
    }
    GstElement* sink = nullptr;  // the sample sink, a reference of ours
    QStringList notices;         // "<alias> ended", "<alias> failed" or "<alias> advanced"
};

// Where the sound starts and ends: the first and last sample above -40 dBFS.
std::pair<std::size_t, std::size_t> Heard(const std::vector<float>& samples) {
    const auto loud = [](float x) { return std::abs(x) > 0.01F; };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud);
    return {static_cast<std::size_t>(first - samples.begin()),
            samples.size() - static_cast<std::size_t>(last - samples.rbegin())};
}

qsizetype OpenDescriptors() {
    return QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System).size();
}

// Every field of a command, so that two compare as a whole and a failure shows them all.
QString Fields(const Command& c) {
    const auto n = [](auto v) { return v ? std::to_string(*v) : std::string("-"); };
    return QString::asprintf("%d|%s|%s|%s|%s|%lld|%s|%s|%d%d%d|%lld|%d", int(c.verb),
                             c.device.c_str(), c.type.c_str(), c.alias.c_str(), c.after.c_str(),
                             static_cast<long long>(c.overlap), n(c.from).c_str(), n(c.to).c_str(),
                             int(c.item), int(c.side), int(c.timeFormat),
                             static_cast<long long>(c.volume), int(c.all));
}

}  // namespace

// clang-format off
struct FindRow { QString path; bool found; int attributes; };  // attributes as Attributes() gives them
struct ParseRow { QString text; Command parsed; };
struct PlayRow { QString file; int shortestMs, longestMs; };
struct ErrorRow { bool openFirst; QString command; MciError code; };  // openFirst: "a" holding tone.wav
struct VolumeRow { QString command; double left, right; };  // each side's level, 1 for full volume
struct CrossfadeRow { QString between; int overlapMs; };  // between: a command after the cue, or ""
struct TrimRow { QStringList commands; QString last; double heardMs; };  // last: the alias playing last
struct OffLoopRow { QString file, notice; double heardSamples; };  // heardSamples: of one channel
struct StreamRow { bool pls; QByteArray text, stream; };  // stream: empty for none
struct PlaylistFileRow { QString name; QByteArray text; qsizetype size; QByteArray stream; };  // text: padded to size bytes, none for no file
// clang-format on

class PlatformTest : public QObject {
    Q_OBJECT

    TestHome dir_;  // the current folder: rows and commands name files relatively

private slots:
    void initTestCase() {
        QVERIFY(QDir::setCurrent(dir_.path()) &&
                dir_.Make({{"music/a.mp3", "x"},
                           {"names/song.mp3.bak", "x"},
                           {"names/école", "x"},
                           {"names/abc", "x"},
                           {"plain.txt", "x"},
                           {"empty.mp3", {}},
                           {"text.mp3", QByteArray("No song.\n").repeated(99)}}));
        // 18 buffers of 1024 samples at 44.1 kHz: 417.96 ms of a sine of peak 0.5.
        QVERIFY(MediaFixtures::MakeWav("tone.wav", 400, 440.0, 0.5) &&
                MediaFixtures::MakeMp3("tone.mp3", 400) &&
                MediaFixtures::MakeMidi("tune.mid", {60, 64, 67}, 150));
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
        // Decisions of the reference matcher in fuzz_patterns, on the names that could mislead.
        QTest::newRow("extension must end the name") << FindRow{"names/*.mp3", false, -1};
        QTest::newRow("case ignored beyond ASCII") << FindRow{"names/É*", true, -1};
        QTest::newRow("dot and brackets are literal") << FindRow{"names/[a].c*", false, -1};
        // clang-format on
    }
    // Only FindFirstMatch reads patterns; Attributes and ShortPathName take one for a missing file.
    void findFirstMatch() {
        QFETCH(FindRow, r);
        QCOMPARE(Files::FindFirstMatch(r.path), r.found);
        QCOMPARE(Files::Attributes(r.path), r.attributes);
        QCOMPARE(Files::ShortPathName(r.path), r.attributes < 0 ? QString() : r.path);
    }

    // Made, and refused with its text, through CreatePath in the support test.
    void createFolderWithoutText() {
        QCOMPARE(Files::CreateFolder("missing/sub", nullptr), ENOENT);
    }

    void parse_data() {
        QTest::addColumn<ParseRow>("r");
        // clang-format off
        QTest::newRow("open, parent and style read") << ParseRow{"open /m/a.mp3 type MPEGVideo Alias ZEL0 parent 460 Style 1073741824", {.verb = Verb::Open, .device = "/m/a.mp3", .type = "MPEGVideo", .alias = "ZEL0"}};
        QTest::newRow("open, quoted, upper case") << ParseRow{"OPEN \"/m/my song.mp3\" TYPE t ALIAS \"my dev\"", {.verb = Verb::Open, .device = "/m/my song.mp3", .type = "t", .alias = "my dev"}};
        QTest::newRow("open, alias is the file") << ParseRow{"open /m/a.mp3 type t", {.verb = Verb::Open, .device = "/m/a.mp3", .type = "t", .alias = "/m/a.mp3"}};
        QTest::newRow("play, mixed case") << ParseRow{"Play ZEL0 FROM 10 To 20", {.verb = Verb::Play, .device = "ZEL0", .from = 10, .to = 20}};
        QTest::newRow("play bare") << ParseRow{"play ZEL0", {.verb = Verb::Play, .device = "ZEL0"}};
        QTest::newRow("CLOSE ALL") << ParseRow{"CLOSE ALL", {.verb = Verb::Close, .device = "ALL", .all = true}};
        QTest::newRow("status left volume, tabs") << ParseRow{"status\tZEL0 left Volume \t ", {.verb = Verb::Status, .device = "ZEL0", .item = StatusItem::Volume, .side = Side::Left}};
        QTest::newRow("set frames") << ParseRow{"set ZEL0 Time Format FRAMES", {.verb = Verb::Set, .device = "ZEL0", .timeFormat = TimeFormat::Frames}};
        QTest::newRow("setaudio right 1000") << ParseRow{"SETAUDIO ZEL0 right VOLUME TO 1000", {.verb = Verb::SetAudio, .device = "ZEL0", .side = Side::Right, .volume = 1000}};
        QTest::newRow("cue after, overlap") << ParseRow{"cue ZEL0Next AFTER ZEL0 Overlap 1500", {.verb = Verb::Cue, .device = "ZEL0Next", .after = "ZEL0", .overlap = 1500}};
        // clang-format on
    }
    void parse() {
        QFETCH(ParseRow, r);
        Command command;
        QCOMPARE(ParseCommand(r.text.toStdString(), command), MciError(kNoError));
        QCOMPARE(Fields(command), Fields(r.parsed));
    }

    void streamOf_data() {
        QTest::addColumn<StreamRow>("r");
        constexpr qsizetype kLongestAddress = 2048;
        const QByteArray none, page = "http://radio.example/";
        const QByteArray longest = page + QByteArray(kLongestAddress - page.size(), 'x');
        // clang-format off
        QTest::newRow("comments, BOM, CRLF, blanks") << StreamRow{false, "\xEF\xBB\xBF#EXTM3U\r\n\r\n#EXTINF:-1,Radio\r\n \thttp://radio.example/live \r\nhttp://b.example\r\n", "http://radio.example/live"};
        QTest::newRow("CR alone, scheme in capitals") << StreamRow{false, "#EXTM3U\rHTTPS://radio.example:8000?id=1\r", "HTTPS://radio.example:8000?id=1"};
        QTest::newRow("first entry a file") << StreamRow{false, "#EXTM3U\nmusic/a.mp3\nhttp://radio.example/\n", none};
        QTest::newRow("comments alone") << StreamRow{false, "#EXTM3U\n\n#http://radio.example/\n", none};
        QTest::newRow("longest address") << StreamRow{false, longest, longest};
        QTest::newRow("address too long") << StreamRow{false, longest + 'x', none};
        QTest::newRow("ftp") << StreamRow{false, "ftp://radio.example/", none};
        QTest::newRow("no host") << StreamRow{false, "http://", none};
        QTest::newRow("empty host before query") << StreamRow{false, "http://?live", none};
        QTest::newRow("space inside") << StreamRow{false, "http://radio.example/my live", none};
        QTest::newRow("control character") << StreamRow{false, "http://radio.example/\x01live", none};
        QTest::newRow("delete character") << StreamRow{false, "http://radio.example/\x7f", none};
        QTest::newRow("pls: lowest number wins, any order, any case") << StreamRow{true, "[Playlist]\r\nFile10=http://ten.example\r\nNumberOfEntries=2\r\n file2 = \thttp://two.example/a\t\r\n", "http://two.example/a"};
        QTest::newRow("pls: malformed numbers ignored") << StreamRow{true, "[playlist]\nFile=http://a.example\nFilex=http://b.example\nFile-1=http://c.example\nFile0=http://d.example\nFile99999999999999999999999=http://e.example\nFile3=http://f.example\n", "http://f.example"};
        QTest::newRow("pls: lowest entry a file") << StreamRow{true, "[playlist]\nFile2=http://two.example\nFile1=a.mp3\n", none};
        QTest::newRow("pls: other sections ignored") << StreamRow{true, "File1=http://a.example\n[other]\nFile1=http://b.example\n[PLAYLIST]\nFile7=http://c.example\n", "http://c.example"};
        QTest::newRow("pls: no section") << StreamRow{true, "File1=http://a.example\n", none};
        QTest::newRow("pls read as m3u") << StreamRow{false, "[playlist]\nFile1=http://a.example\n", none};
        // clang-format on
    }
    void streamOf() {
        QFETCH(StreamRow, r);
        const std::optional<std::string> stream = Playlist::StreamOf(r.text.toStdString(), r.pls);
        QCOMPARE(stream.has_value(), !r.stream.isEmpty());
        QCOMPARE(QByteArray::fromStdString(stream.value_or("")), r.stream);
    }

    void readStream_data() {
        QTest::addColumn<PlaylistFileRow>("r");
        const qsizetype largest = Playlist::kLargest;
        const QByteArray m3u = "http://radio.example/\n", pls = "[playlist]\nFile1=" + m3u;
        const QByteArray stream = m3u.trimmed(), none;
        QTest::newRow("largest") << PlaylistFileRow{"largest.M3U8", m3u, largest, stream};
        QTest::newRow("too large") << PlaylistFileRow{"large.m3u", m3u, largest + 1, none};
        QTest::newRow("pls") << PlaylistFileRow{"station.PLS", pls, 0, stream};
        QTest::newRow("pls text read as m3u") << PlaylistFileRow{"station.m3u", pls, 0, none};
        QTest::newRow("missing") << PlaylistFileRow{"missing.m3u", none, 0, none};
    }
    // Padded by a comment after the entry, so that only their size can refuse the large files.
    void readStream() {
        QFETCH(PlaylistFileRow, r);
        const QString name = "playlists/" + r.name;
        const QByteArray padding =
            r.size > 0 ? '#' + QByteArray(r.size - r.text.size() - 1, 'x') : QByteArray();
        QVERIFY(r.text.isNull() || dir_.Make({{name, r.text + padding}}));
        const auto stream = Playlist::ReadStream(dir_.filePath(name).toStdString());
        QCOMPARE(stream.has_value(), !r.stream.isEmpty());
        QCOMPARE(QByteArray::fromStdString(stream.value_or("")), r.stream);
    }

    void isPlaylist_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("playlist");
        QTest::newRow("m3u, upper case") << "/music/Radio.M3U" << true;
        QTest::newRow("m3u8") << "radio.m3u8" << true;
        QTest::newRow("pls, mixed case") << "radio.pLs" << true;
        QTest::newRow("playlist name in the folder") << "/music/radio.m3u/a.mp3" << false;
        QTest::newRow("kept copy") << "radio.pls.bak" << false;
        QTest::newRow("no dot") << "radiom3u" << false;
    }
    void isPlaylist() {
        QFETCH(QString, path);
        QFETCH(bool, playlist);
        QCOMPARE(Playlist::IsPlaylist(path.toStdString()), playlist);
    }

    void playToEnd_data() {
        QTest::addColumn<PlayRow>("r");
        QTest::newRow("WAV") << PlayRow{"tone.wav", 418, 418};
        QTest::newRow("MP3, with encoder delay") << PlayRow{"tone.mp3", 400, 520};
        QTest::newRow("MIDI") << PlayRow{"tune.mid", 450, 750};
    }
    // Held for a while and resumed, a file plays what was left of it, whole: nothing is lost or
    // heard twice, and its end is told when that rest has played.
    void pauseAndResume() {
        Rig d;
        QVERIFY(MediaFixtures::MakeWav(dir_.filePath("held.wav"), 3000, 1000));
        QVERIFY(MediaFixtures::MakeWav(dir_.filePath("under.wav"), 10000, 400, 0.05));
        QVERIFY(Ask(d, "open under.wav type MPEGVideo Alias ZEL0").isEmpty() &&
                Ask(d, "open held.wav type MPEGVideo Alias ZEL1").isEmpty());
        QCOMPARE(Ask(d, "play ZEL0"), QString());
        QCOMPARE(Ask(d, "set ZEL1 time format frames"), QString());
        QCOMPARE(Ask(d, "play ZEL1 from 0 to " + Ask(d, "status ZEL1 length")), QString());
        QTest::qWait(800);
        QCOMPARE(Ask(d, "pause ZEL0") + Ask(d, "pause ZEL1"), QString());
        QCOMPARE(Ask(d, "status ZEL1 mode"), QStringLiteral("paused"));
        QTest::qWait(1000);
        QElapsedTimer resumed;
        resumed.start();
        QCOMPARE(Ask(d, "resume ZEL0") + Ask(d, "resume ZEL1"), QString());
        QTRY_COMPARE_WITH_TIMEOUT(d.notices, QStringList{"ZEL1 ended"}, 5000);
        const qint64 rest = resumed.elapsed();
        QVERIFY2(rest > 1700 && rest < 3000, qPrintable(QString::number(rest)));
        const QList<double> levels = MediaFixtures::ToneLevels(d.Channels()[0], 1000);
        const auto windows =
            std::count_if(levels.begin(), levels.end(), [](double level) { return level > 0.25; });
        // Not counted under the sanitizers, whose allocator keeps no real time: the mixer goes on
        // without a strip that is late.
        QVERIFY2(CORVANE_SANITIZED || std::abs(windows - 300) <= 3,
                 qPrintable(QString::number(windows)));
    }

    // The console's whole use of a device: open, length in frames, play 0 to it, close. Its end
    // reaches the notice handler from the event loop, with no command sent to read it. One closed
    // while it plays tells no one.
    void playToEnd() {
        QFETCH(PlayRow, r);
        Rig d(GstDevices::FakeSink());
        QCOMPARE(Ask(d, "open " + r.file + " type MPEGVideo Alias ZEL0 parent 460"), QString());
        const int ms = Ask(d, "status ZEL0 length").toInt();
        QVERIFY2(ms >= r.shortestMs && ms <= r.longestMs, qPrintable(QString::number(ms)));
        QCOMPARE(Ask(d, "set ZEL0 time format frames"), QString());
        const QString frames = Ask(d, "status ZEL0 length");
        QCOMPARE(frames.toInt(), (ms + 39) / 40);  // rounded up, so "to <length>" is the end
        QCOMPARE(Ask(d, "play ZEL0 from 0 to " + frames), QString());
        QCOMPARE(Ask(d, "status ZEL0 mode"), QStringLiteral("playing"));
        QTRY_COMPARE(d.notices, QStringList{"ZEL0 ended"});
        QCOMPARE(Ask(d, "status ZEL0 mode"), QStringLiteral("stopped"));
        QVERIFY(Ask(d, "status ZEL0 position").toInt() >= frames.toInt() - 2);
        // A "to" short of the end stops there.
        QCOMPARE(Ask(d, "play ZEL0 from 0 to 5"), QString());
        QTRY_COMPARE(d.notices.size(), 2);
        QVERIFY(qAbs(Ask(d, "status ZEL0 position").toInt() - 5) <= 1);
        for (const char* command :
             {"close zel0", "open tone.wav alias long", "play long", "close long"}) {
            QCOMPARE(Ask(d, command), QString());
        }
        QCOMPARE(d.OpenDeviceCount(), std::size_t(0));
        QTest::qWait(600);
        QCOMPARE(d.notices.size(), 2);
    }

    void errors_data() {
        QTest::addColumn<ErrorRow>("r");
        // clang-format off
        QTest::newRow("cue without after") << ErrorRow{false, "cue ZEL0Next ZEL0", kErrUnrecognizedKeyword};
        QTest::newRow("cue overlap without length") << ErrorRow{false, "cue b after a overlap", kErrMissingParameter};
        QTest::newRow("cue overlap, bad length") << ErrorRow{false, "cue b after a overlap 3s", kErrBadInteger};
        QTest::newRow("empty") << ErrorRow{false, "   ", kErrUnrecognizedCommand};
        QTest::newRow("unknown verb") << ErrorRow{false, "fly ZEL0", kErrUnrecognizedCommand};
        QTest::newRow("verb alone") << ErrorRow{false, "play", kErrMissingParameter};
        QTest::newRow("unterminated quote") << ErrorRow{false, "open \"/m/a b.mp3 type t", kErrUnterminatedQuote};
        QTest::newRow("to -1") << ErrorRow{false, "play ZEL0 from 0 to -1", kErrOutOfRange};
        QTest::newRow("bad integer") << ErrorRow{false, "play ZEL0 to 1x", kErrBadInteger};
        QTest::newRow("volume 1001") << ErrorRow{false, "setaudio ZEL0 volume to 1001", kErrOutOfRange};
        QTest::newRow("unknown keyword") << ErrorRow{false, "play ZEL0 at 5", kErrUnrecognizedKeyword};
        QTest::newRow("side on mode") << ErrorRow{false, "status ZEL0 left mode", kErrUnrecognizedKeyword};
        QTest::newRow("word after item") << ErrorRow{false, "status ZEL0 mode now", kErrUnrecognizedKeyword};
        QTest::newRow("alias all") << ErrorRow{false, "open /m/a.mp3 alias ALL", kErrOutOfRange};
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
        GstDevices d(GstDevices::FakeSink(), std::chrono::seconds(3), {}, std::chrono::seconds(3));
        QVERIFY(!r.openFirst || Ask(d, "open tone.wav type MPEGVideo alias a").isEmpty());
        QCOMPARE(Ask(d, r.command), Refused(r.code));
        QCOMPARE(d.OpenDeviceCount(), std::size_t(r.openFirst ? 1 : 0));
        QCOMPARE(Ask(d, "status a mode"), r.openFirst ? "stopped" : Refused(kErrDeviceNotOpen));
    }

    // One side set: the louder side sets the device's level, the balance lowers the other. The
    // level at both sides together is in the loudness test.
    void volumeReachesSamples_data() {
        QTest::addColumn<VolumeRow>("r");
        QTest::newRow("left lowered") << VolumeRow{"setaudio a left volume to 500", 0.5, 1.0};
        QTest::newRow("right silent") << VolumeRow{"setaudio a right volume to 0", 1.0, 0.0};
    }
    void volumeReachesSamples() {
        QFETCH(VolumeRow, r);
        Rig d;
        QVERIFY(Ask(d, "open tone.wav type MPEGVideo alias a").isEmpty() && d.sink != nullptr);
        QVERIFY(Ask(d, r.command).isEmpty() && Ask(d, "play a").isEmpty() && Stops(d, "a"));
        const auto channels = d.Channels();
        const double expected[] = {r.left, r.right};
        for (std::size_t side = 0; side < 2; ++side) {
            float peak = 0;  // against the tone's own of 0.5
            for (const float x : channels[side])
                peak = std::max(peak, std::abs(x) / 0.5F);
            QVERIFY2(std::abs(peak - expected[side]) <= 0.02 * expected[side] + 1e-6,
                     qPrintable(QString("side %1: %2").arg(side).arg(peak)));
        }
    }

    // MP3s decode through mpg123: libav's decoder ranks alike on Debian, wins on its name, and
    // brings some 30 MB of libraries into memory for the same sound. Picked as decodebin picks.
    void mp3DecoderIsMpg123() {
        Decoder::Init();
        GList* decoders = gst_element_factory_list_get_elements(
            GST_ELEMENT_FACTORY_TYPE_DECODER | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO,
            GST_RANK_MARGINAL);
        GstCaps* mp3 = gst_caps_from_string("audio/mpeg,mpegversion=1,layer=3,parsed=true");
        GList* able =
            g_list_sort(gst_element_factory_list_filter(decoders, mp3, GST_PAD_SINK, FALSE),
                        gst_plugin_feature_rank_compare_func);
        const QString first =
            able != nullptr ? gst_plugin_feature_get_plugin_name(GST_PLUGIN_FEATURE(able->data))
                            : "none";
        gst_plugin_feature_list_free(able);
        gst_plugin_feature_list_free(decoders);
        gst_caps_unref(mp3);
        QCOMPARE(first, QString("mpg123"));
    }

    void cueIsGapless_data() {
        QTest::addColumn<QString>("extension");
        QTest::newRow("WAV") << "wav";
        QTest::newRow("MP3, its encoder delay and padding left out") << "mp3";
        QTest::newRow("FLAC") << "flac";
        QTest::newRow("Ogg Vorbis") << "ogg";
    }
    // Three pieces cut from one tone, each cued after the one before, play as one unbroken sine:
    // no silence and no step where one takes over from the other, and nothing lost.
    void cueIsGapless() {
        QFETCH(QString, extension);
        constexpr double kFrequency = 44100.0 / 64;  // whole cycles in every 1024-sample buffer
        constexpr int kPieceMs = 700;
        const QString pieces[] = {"p0." + extension, "p1." + extension, "p2." + extension};
        for (const QString& piece : pieces) {
            QVERIFY(extension == u"wav" ? MediaFixtures::MakeWav(piece, kPieceMs, kFrequency)
                    : extension == u"mp3"
                        ? MediaFixtures::MakeMp3(piece, kPieceMs, kFrequency)
                        : MediaFixtures::MakeEncoded(piece, kPieceMs, kFrequency, 0.5));
        }
        Rig d;
        QVERIFY(Ask(d, "open " + pieces[0] + " alias m").isEmpty() && Ask(d, "play m").isEmpty());
        for (int i = 1; i < 3; ++i) {
            QVERIFY(Ask(d, "open " + pieces[i] + " alias next").isEmpty());
            QCOMPARE(Ask(d, "cue next after m"), QString());
            QTRY_COMPARE(d.notices.count(QStringLiteral("m advanced")), i);
            QCOMPARE(d.OpenDeviceCount(), std::size_t(1));  // the one taken over is gone
        }
        QVERIFY(Stops(d, "m"));
        QTest::qWait(100);
        const std::vector<float> left = d.Channels()[0];
        if (CORVANE_SANITIZED)
            QSKIP(kUntimed);
        const auto [first, end] = Heard(left);
        // A sine of peak 0.5 moves at most 0.05 from one sample to the next, and never stays
        // near zero for a millisecond.
        std::size_t quiet = 0;
        for (std::size_t i = first + 1; i < end; ++i) {
            quiet = std::abs(left[i]) < 0.002F ? quiet + 1 : 0;
            QVERIFY2(quiet < 44 && std::abs(left[i] - left[i - 1]) < 0.08F,
                     qPrintable(QString("at sample %1 of %2").arg(i - first).arg(end - first)));
        }
        // Every sample each decoder gives plays: the Vorbis decoder gives one past the source's.
        const auto pieceSamples =
            static_cast<std::size_t>((kPieceMs * 44100 / 1000 + 1023) / 1024 * 1024);
        QVERIFY2(end - first + 2 >= 3 * pieceSamples && end - first <= 3 * pieceSamples + 3,
                 qPrintable(QString::number(end - first)));
    }

    void crossfade_data() {
        QTest::addColumn<CrossfadeRow>("r");
        QTest::newRow("1 s") << CrossfadeRow{"", 1000};
        QTest::newRow("longer than half the incoming file") << CrossfadeRow{"", 1500};
        QTest::newRow("called off: the outgoing file stopped") << CrossfadeRow{"stop out", 1000};
        QTest::newRow("called off: the outgoing file closed") << CrossfadeRow{"close out", 1000};
    }
    // Two tones crossfade: the outgoing one falls on a cosine while the incoming one rises on a
    // sine, so their powers sum to one throughout, though a third file is cued at once after the
    // incoming one, as the console does. A crossfade called off before it begins plays nothing of
    // the incoming file.
    void crossfade() {
        QFETCH(CrossfadeRow, r);
        constexpr int kFileMs = 2000;
        QVERIFY(MediaFixtures::MakeWav("out.wav", kFileMs, 700, 0.5) &&
                MediaFixtures::MakeWav("in.wav", kFileMs, 1100, 0.5) &&
                MediaFixtures::MakeWav("third.wav", kFileMs, 1500, 0.5));
        Rig d;
        const QString cue = QString("cue in after out overlap %1").arg(r.overlapMs);
        QVERIFY(Ask(d, "open out.wav alias out").isEmpty() && Ask(d, "play out").isEmpty() &&
                Ask(d, "open in.wav alias in").isEmpty());
        QCOMPARE(Ask(d, cue), QString());
        // Where a file starts or stops at once, its click leaks a little into the other tone.
        const auto heard = [](double level) { return level > 0.05; };  // of the tone's 0.5
        if (!r.between.isEmpty()) {
            QCOMPARE(Ask(d, r.between), QString());
            QTest::qWait(kFileMs + 300);
            QCOMPARE(Ask(d, "status in mode"), QString("stopped"));
            const QList<double> rise = MediaFixtures::ToneLevels(d.Channels()[0], 1100);
            QVERIFY(std::none_of(rise.begin(), rise.end(), heard));
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(d.notices.count(QStringLiteral("out advanced")), 1,
                                  kFileMs + 1000);
        QCOMPARE(d.OpenDeviceCount(), std::size_t(1));  // the incoming file, as "out"
        QVERIFY(Ask(d, "open third.wav alias in").isEmpty() && Ask(d, cue).isEmpty() &&
                Stops(d, "out"));
        const std::vector<float> left = d.Channels()[0];
        if (CORVANE_SANITIZED)
            QSKIP(kUntimed);
        const QList<double> fall = MediaFixtures::ToneLevels(left, 700);
        const QList<double> rise = MediaFixtures::ToneLevels(left, 1100);
        // Across the crossfade the incoming tone's level, read as the sine's phase, grows in step
        // with time over the expected length, and the two tones' powers sum to one.
        const double lengthMs = std::min(r.overlapMs, kFileMs / 2);
        const auto full = std::find_if(fall.begin(), fall.end(), [](double l) { return l > 0.45; });
        QVERIFY(full - fall.begin() + 3 < rise.size());
        const qsizetype begins =
            std::find_if(rise.begin() + (full - fall.begin()) + 3, rise.end(), heard) -
            rise.begin();
        QVERIFY(begins < rise.size());
        const double phase0 = std::asin(std::min(rise[begins] / 0.5, 1.0)) * 2 / M_PI;
        int compared = 0;
        for (qsizetype w = begins; w < rise.size() && rise[w] < 0.475; ++w, ++compared) {
            const double out = fall[w] / 0.5, in = rise[w] / 0.5;
            const double phase = std::asin(in) * 2 / M_PI;
            const double expected = phase0 + static_cast<double>(w - begins) * 10 / lengthMs;
            QVERIFY2(
                std::abs(phase - expected) < 0.03 && std::abs(out * out + in * in - 1) < 0.06,
                qPrintable(QString("at %1 ms: %2 %3").arg((w - begins) * 10).arg(out).arg(in)));
        }
        QVERIFY2(compared * 10 > 0.7 * lengthMs, qPrintable(QString::number(compared)));
    }

    void trimmedEnds_data() {
        QTest::addColumn<TrimRow>("r");
        QTest::newRow("played") << TrimRow{{"play t"}, "t", 500};
        QTest::newRow("cued after tone.wav")
            << TrimRow{{"open tone.wav alias a", "play a", "cue t after a"}, "a", 417.96 + 500};
    }
    // A file trimmed of its silent ends plays its sound alone, and its length and position count
    // from where that starts, played or cued.
    void trimmedEnds() {
        QFETCH(TrimRow, r);
        QVERIFY(MediaFixtures::MakePadded("padded.wav", 700, 500, 900));
        Rig d;
        d.SetTrimLookup([](const std::string& file) {
            return file.ends_with("padded.wav") ? std::optional(std::pair<gint64, gint64>(
                                                      700 * GST_MSECOND, 1200 * GST_MSECOND))
                                                : std::nullopt;
        });
        QVERIFY(Ask(d, "open padded.wav alias t").isEmpty());
        QCOMPARE(Ask(d, "status t length"), QString("500"));
        QCOMPARE(Ask(d, "status t position"), QString("0"));
        for (const QString& command : r.commands)
            QCOMPARE(Ask(d, command), QString());
        QVERIFY(Stops(d, r.last));
        const std::vector<float> left = d.Channels()[0];
        if (CORVANE_SANITIZED)
            QSKIP(kUntimed);
        const auto [first, end] = Heard(left);
        const double heardMs = static_cast<double>(end - first) * 1000 / 44100;
        QVERIFY2(std::abs(heardMs - r.heardMs) < 5, qPrintable(QString::number(heardMs)));
    }

    void fadeThenMessage_data() {
        QTest::addColumn<QString>("music");
        QTest::newRow("WAV") << "wav";
        QTest::newRow("FLAC, whose decoder gives 93 ms at a time") << "flac";
    }
    // A fade down in 10 ms steps and a message played at once after the last step, as the
    // console ducks: the music falls as one smooth ramp in the mix, and is down before the
    // message's first sample, however far ahead of the mix the music's data is decoded.
    void fadeThenMessage() {
        QFETCH(QString, music);
        constexpr double kMusicHz = 400, kMessageHz = 1200, kPeak = 0.5;
        constexpr int kFull = 1000, kLow = 100, kStep = 10;
        const QString musicFile = "music." + music;
        QVERIFY((music == u"wav" ? MediaFixtures::MakeWav(musicFile, 3000, kMusicHz, kPeak)
                                 : MediaFixtures::MakeEncoded(musicFile, 3000, kMusicHz, kPeak)) &&
                MediaFixtures::MakeWav("message.wav", 300, kMessageHz, kPeak));
        Rig d;
        // The message on the right alone: the left is the music's, and where the two sides part
        // is the message's first sample.
        QVERIFY(Ask(d, "open " + musicFile + " alias m").isEmpty() && Ask(d, "play m").isEmpty() &&
                Ask(d, "open message.wav alias x").isEmpty() &&
                Ask(d, "setaudio x left volume to 0").isEmpty());
        QTest::qWait(300);
        for (int volume = kFull - kStep; volume >= kLow; volume -= kStep) {
            QVERIFY(Ask(d, QString("setaudio m volume to %1").arg(volume)).isEmpty());
            QTest::qWait(kStep);
        }
        QVERIFY(Ask(d, "play x").isEmpty() && Stops(d, "x"));
        const auto [left, right] = d.Channels();
        if (CORVANE_SANITIZED)
            QSKIP(kUntimed);
        const double low = kPeak * kLow / kFull, step = kPeak * kStep / kFull;
        std::size_t first = 0;
        while (first < right.size() && std::abs(right[first] - left[first]) < 0.01F)
            ++first;
        constexpr std::size_t kCycle = 44100 / static_cast<std::size_t>(kMusicHz);
        QVERIFY2(first > kCycle && first < left.size(), qPrintable(QString::number(first)));
        float before = 0;  // the music's peak over its last cycle before the message, the last
        // step's ramp just ending
        for (std::size_t i = first - kCycle; i < first; ++i)
            before = std::max(before, std::abs(left[i]));
        QVERIFY2(before < low + step / 2, qPrintable(QString("music at %1").arg(before / kPeak)));
        // In 10 ms windows, from full to low: no rise, and no fall of more than a few steps.
        const QList<double> fall = MediaFixtures::ToneLevels(left, kMusicHz);
        const auto full =
            std::find_if(fall.begin(), fall.end(), [&](double l) { return l > kPeak - step / 2; });
        const auto begins =
            std::find_if(full, fall.end(), [&](double l) { return l < kPeak - step / 2; });
        const auto ends =
            std::find_if(begins, fall.end(), [&](double l) { return l < low * 1.01; });
        QVERIFY(full != fall.end() && ends != fall.end());
        for (auto w = begins + 1; w <= ends; ++w) {
            QVERIFY2(
                *w <= *(w - 1) + step / 5 && *(w - 1) - *w < 2.5 * step,
                qPrintable(
                    QString("at %1 ms: %2 after %3").arg((w - begins) * 10).arg(*w).arg(*(w - 1))));
        }
    }

    void openOffTheLoop_data() {
        QTest::addColumn<OffLoopRow>("r");
        QTest::newRow("a tone plays once it is held")
            << OffLoopRow{"tone.wav", "a ended", 18 * 1024};  // its 18 buffers
        QTest::newRow("not a sound fails by a notice") << OffLoopRow{"text.mp3", "a failed", 0};
    }
    // With no wait on the loop at all, the output and the file get ready after the commands: the
    // device takes "play" at once and reads "playing" meanwhile, then plays the whole file, or
    // fails by a notice.
    void openOffTheLoop() {
        QFETCH(OffLoopRow, r);
        Rig d({}, std::chrono::milliseconds(0));
        QVERIFY(Ask(d, "open " + r.file + " alias a").isEmpty() && Ask(d, "play a").isEmpty());
        if (r.heardSamples > 0)
            QCOMPARE(Ask(d, "status a mode"), QString("playing"));
        QTRY_VERIFY_WITH_TIMEOUT(d.notices.contains(r.notice), 5000);
        QCOMPARE(Ask(d, "status a mode"), QString("stopped"));
        const std::vector<float> left = d.Channels()[0];
        if (CORVANE_SANITIZED)
            QSKIP(kUntimed);
        const auto [first, end] = Heard(left);
        const double heard = end > first ? static_cast<double>(end - first) : 0;
        QVERIFY2(std::abs(heard - r.heardSamples) < 44, qPrintable(QString::number(heard)));
    }

    // A sound server that takes the connection and does not answer: the open and the play are
    // taken at once and the device reads "playing" meanwhile, and the devices can be let go;
    // once the server goes, the device fails by a notice, and the next open is told there is no
    // output.
    void slowSoundServer() {
        const QByteArray path = QDir(dir_.path()).filePath("pulse-native").toUtf8();
        const int server = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        QVERIFY(server >= 0 &&
                bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                listen(server, 8) == 0);
        qputenv("PULSE_SERVER", "unix:" + path);
        const auto restore = qScopeGuard([] { qunsetenv("PULSE_SERVER"); });
        {
            GstDevices gone;
            QCOMPARE(Ask(gone, "open tone.wav alias a"), QString());
        }
        GstDevices d;
        QStringList notices;
        SetNoticeHandler([&](const std::string& alias, Notice n) {
            notices << QString::fromStdString(alias) + (n == Notice::Failed ? " failed" : " other");
        });
        QCOMPARE(Ask(d, "open tone.wav alias a"), QString());
        QCOMPARE(Ask(d, "play a"), QString());
        QCOMPARE(Ask(d, "status a mode"), QString("playing"));
        ::close(server);  // unanswered connections are reset
        QTRY_VERIFY_WITH_TIMEOUT(notices.contains("a failed"), 10000);
        // Refused as often as a server's restart makes the program try, and nothing kept.
        qsizetype before = 0;
        for (int i = 1; i <= 40; ++i) {
            before = i == 6 ? OpenDescriptors() : before;
            QCOMPARE(Ask(d, "open tone.wav alias b"), Refused(kErrNoOutput));
        }
        QVERIFY2(OpenDescriptors() <= before + 2, qPrintable(QString::number(before)));
        SetNoticeHandler({});
    }

    // Opening and closing for days, as the console does, keeps no descriptors, refused or not.
    void soak() {
        GstDevices d(GstDevices::FakeSink(), std::chrono::seconds(3), {}, std::chrono::seconds(3));
        qsizetype before = 0;  // counted after a warm-up: plugins loaded, thread pools filled
        for (int i = 1; i <= 320; ++i) {
            before = i == 21 ? OpenDescriptors() : before;
            QVERIFY2(Ask(d, "open tone.wav type MPEGVideo Alias ZEL0 parent 460").isEmpty() &&
                         Ask(d, "play ZEL0 from 0").isEmpty() &&
                         (i % 50 != 0 || Stops(d, "ZEL0")) && Ask(d, "close ZEL0").isEmpty() &&
                         Ask(d, "open text.mp3 type MPEGVideo alias t") == Refused(kErrCannotPlay),
                     qPrintable(QString::number(i)));
        }
        QCOMPARE(d.OpenDeviceCount(), std::size_t(0));
        QVERIFY2(OpenDescriptors() <= before + 2, qPrintable(QString::number(before)));
    }
};

int RunWatchTests(int argc, char** argv);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    PlatformTest platform;
    return QTest::qExec(&platform, argc, argv) + RunWatchTests(argc, argv);
}
#include "tst_platform.moc"
