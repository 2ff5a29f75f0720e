#include <ebur128.h>
#include <gst/app/gstappsink.h>

#include <QtTest>
#include <cmath>

#include "MediaFixtures.h"
#include "loudness/Loudness.h"
#include "loudness/LoudnessLibrary.h"
#include "platform/mci/gstdevices.h"

using namespace Loudness;

namespace {

double Db(double factor) {
    return 20.0 * std::log10(factor);
}

// A 1 kHz tone whose loudness in LUFS is `levelDb`, the level of its peaks.
bool MakeTone(const QString& path, double levelDb, int milliseconds = 3000) {
    const double amplitude = std::pow(10.0, levelDb / 20.0);
    return path.endsWith(u".wav") ? MediaFixtures::MakeWav(path, milliseconds, 1000.0, amplitude)
                                  : MediaFixtures::MakeMp3(path, milliseconds, 1000.0, amplitude);
}

// Plays `file` through the media service into an appsink and measures what came out, as the
// sound output would have received it.
double PlayedLoudness(const QByteArray& file, int volume) {
    GstElement* out = nullptr;
    Platform::Mci::GstDevices devices([&out] {
        GstElement* bin = gst_parse_bin_from_description(
            "audioconvert ! appsink name=out sync=false "
            "caps=audio/x-raw,format=F32LE,layout=interleaved,channels=2,rate=44100",
            TRUE, nullptr);
        out = gst_bin_get_by_name(GST_BIN(bin), "out");
        return bin;
    });
    std::string reply;
    const auto send = [&](const QByteArray& command) {
        return devices.Execute(command.toStdString(), reply);
    };
    if (send("open \"" + file + "\" type mpegvideo alias a") != Platform::Mci::kNoError ||
        send("setaudio a volume to " + QByteArray::number(volume)) != Platform::Mci::kNoError ||
        send("play a") != Platform::Mci::kNoError) {
        return NAN;
    }
    ebur128_state* state = ebur128_init(2, 44100, EBUR128_MODE_I);
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(out), 5 * GST_SECOND)) {
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            ebur128_add_frames_float(state, reinterpret_cast<const float*>(map.data),
                                     map.size / (2 * sizeof(float)));
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
    }
    double loudness = NAN;
    ebur128_loudness_global(state, &loudness);
    ebur128_destroy(&state);
    gst_object_unref(out);
    return loudness;
}

}  // namespace

// clang-format off
struct MeasureRow { QString file; double levelDb; };
struct GainRow { Measurement m; double gainDb; };
struct PlayedRow { QString file; bool measured; int volume; double expectedLufs; };
// clang-format on

class LoudnessTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::atomic<bool> keepGoing_{false};

    QString Path(const QString& name) const { return dir_.filePath(name); }
    QByteArray Bytes(const QString& name) const { return QFile::encodeName(Path(name)); }

    // Measures `names` through a library on `cache` and waits until it is done.
    static void MeasureAll(Library& library, const QList<QByteArray>& paths) {
        library.SetEnabled(true);
        library.Queue(paths);
        QTRY_VERIFY_WITH_TIMEOUT(library.Idle(), 60000);
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QVERIFY(MakeTone(Path("quiet.mp3"), -30));
        QVERIFY(MakeTone(Path("loud.mp3"), -10));
        for (const auto& [name, level] :
             {std::pair{"quiet.wav", -30}, {"middle.wav", -20}, {"loud.wav", -10}}) {
            QVERIFY(MakeTone(Path(name), level));
        }
        QVERIFY(MediaFixtures::MakeFile(Path("text.mp3"), QByteArray("No song.\n").repeated(99)));
        QVERIFY(MediaFixtures::MakeFile(Path("empty.wav"), {}));
        // Truncated after its header: a wave file that promises samples it does not hold.
        QFile wav(Path("middle.wav"));
        QVERIFY(wav.open(QIODevice::ReadOnly));
        QVERIFY(MediaFixtures::MakeFile(Path("cut.wav"), wav.read(60)));
    }

    void measuresKnownTones_data() {
        QTest::addColumn<MeasureRow>("r");
        // Wave files: an encoder's filters would leave the level a little off the tone's own.
        QTest::newRow("at -30") << MeasureRow{"quiet.wav", -30};
        QTest::newRow("at -20") << MeasureRow{"middle.wav", -20};
        QTest::newRow("at -10") << MeasureRow{"loud.wav", -10};
    }
    void measuresKnownTones() {
        QFETCH(MeasureRow, r);
        const std::optional<Measurement> m = Measure(Bytes(r.file), keepGoing_);
        QVERIFY(m.has_value());
        QCOMPARE(int(m->source), int(Source::Analysis));
        QVERIFY2(std::abs(m->integratedLufs - r.levelDb) <= 0.5,
                 qPrintable(QString::number(m->integratedLufs)));
        // A sine's true peak is its sample peak.
        QVERIFY2(std::abs(m->truePeakDbtp - r.levelDb) <= 0.5,
                 qPrintable(QString::number(m->truePeakDbtp)));
    }

    void tagsTakePrecedence() {
        // The tone is at -30; its tags say -13 LUFS (a gain of -5 dB to -18) with peaks at 0.5.
        QVERIFY(MediaFixtures::MakeTaggedMp3(Path("tagged.mp3"), 3000, std::pow(10.0, -1.5), -5.0,
                                             0.5));
        const std::optional<Measurement> m = Measure(Bytes("tagged.mp3"), keepGoing_);
        QVERIFY(m.has_value());
        QCOMPARE(int(m->source), int(Source::Tags));
        QCOMPARE(m->integratedLufs, kTargetLufs + 5.0);
        QVERIFY(std::abs(m->truePeakDbtp - Db(0.5)) < 0.01);
    }

    void gainMeetsTargetWithinCeiling_data() {
        QTest::addColumn<GainRow>("r");
        // clang-format off
        QTest::newRow("quiet file raised") << GainRow{{-30, -25, Source::Analysis}, +12};
        QTest::newRow("loud file lowered") << GainRow{{-8, -0.5, Source::Analysis}, -10};
        QTest::newRow("raise stops at the peak ceiling") << GainRow{{-30, -5, Source::Analysis}, +4};
        QTest::newRow("peaks above the ceiling lowered") << GainRow{{-20, 0.5, Source::Tags}, -1.5};
        QTest::newRow("near silence raised at most 20 dB") << GainRow{{-60, -50, Source::Analysis}, +20};
        QTest::newRow("silence left alone") << GainRow{{-200, -200, Source::Analysis}, 0};
        QTest::newRow("unmeasurable left alone") << GainRow{{-40, -40, Source::Unmeasurable}, 0};
        // clang-format on
    }
    void gainMeetsTargetWithinCeiling() {
        QFETCH(GainRow, r);
        QCOMPARE(GainDb(r.m), r.gainDb);
        QVERIFY(std::abs(Db(GainFactor(r.m)) - r.gainDb) < 1e-9);
    }

    void cacheIsHitThenMissedAfterAChange() {
        const QString cache = Path("cache/loudness.txt");
        const QByteArray file = Bytes("changing.mp3");
        QVERIFY(MakeTone(Path("changing.mp3"), -30));
        {
            Library first(cache);
            MeasureAll(first, {file});
            QCOMPARE(first.MeasuredCount(), 1);
        }
        Library second(cache);
        QVERIFY(second.Find(file).has_value());  // known before the worker ever runs
        second.SetEnabled(true);
        QVERIFY(std::abs(Db(second.Gain(file)) - 12.0) < 0.5);
        MeasureAll(second, {file});
        QCOMPARE(second.MeasuredCount(), 0);

        QVERIFY(MakeTone(Path("changing.mp3"), -10));
        QVERIFY(!second.Find(file).has_value());
        QFile cut(cache);  // a line a crash left unfinished must not swallow the next one
        QVERIFY(cut.open(QIODevice::Append) && cut.write("132 17") == 6);
        cut.close();
        QCOMPARE(second.Gain(file), 1.0);  // its own level until measured again
        QTRY_VERIFY_WITH_TIMEOUT(second.Find(file).has_value(), 60000);
        QCOMPARE(second.MeasuredCount(), 1);
        QVERIFY(std::abs(second.Find(file)->integratedLufs + 10.0) <= 0.5);
        // A library started later goes by the last line written for the file.
        QVERIFY(std::abs(Library(cache).Find(file)->integratedLufs + 10.0) <= 0.5);
    }

    void brokenFilesNeitherStallNorCount() {
        Library library(Path("broken-cache.txt"));
        const QList<QByteArray> files = {Bytes("text.mp3"), Bytes("empty.wav"), Bytes("cut.wav"),
                                         Bytes("missing.mp3"), Bytes("middle.wav")};
        MeasureAll(library, files);
        for (const QByteArray& broken : files.mid(0, 3)) {
            QVERIFY2(library.Find(broken).has_value(), broken.constData());
            QCOMPARE(library.Gain(broken), 1.0);
        }
        QVERIFY(!library.Find(Bytes("missing.mp3")).has_value());
        QVERIFY(std::abs(library.Find(Bytes("middle.wav"))->integratedLufs + 20.0) <= 0.5);
        QCOMPARE(library.MeasuredCount(), 4);
    }

    void offMeansOwnLevelAndNoWork() {
        Library library(Path("off-cache.txt"));
        library.Queue({Bytes("quiet.mp3")});
        QCOMPARE(library.Gain(Bytes("quiet.mp3")), 1.0);
        QVERIFY(library.Idle());
        QCOMPARE(library.MeasuredCount(), 0);
    }

    void stopEndsAMeasurementUnderWay() {
        QVERIFY(MakeTone(Path("long.mp3"), -20, 300'000));
        Library library(Path("stop-cache.txt"));
        library.SetEnabled(true);
        library.Queue({Bytes("long.mp3")});
        QTest::qWait(300);  // under way by then: the file takes seconds to measure
        library.Stop();
        // Ended before its end: nothing measured and nothing kept for the next run.
        QCOMPARE(library.MeasuredCount(), 0);
        QVERIFY(!QFile::exists(Path("stop-cache.txt")));
    }

    void playbackMeetsTheTarget_data() {
        QTest::addColumn<PlayedRow>("r");
        // clang-format off
        QTest::newRow("quiet file") << PlayedRow{"quiet.mp3", true, 1000, kTargetLufs};
        QTest::newRow("loud file") << PlayedRow{"loud.mp3", true, 1000, kTargetLufs};
        QTest::newRow("volume still applies") << PlayedRow{"quiet.mp3", true, 500, kTargetLufs + Db(0.5)};
        QTest::newRow("not yet measured") << PlayedRow{"middle.wav", false, 1000, -20};
        // clang-format on
    }
    void playbackMeetsTheTarget() {
        QFETCH(PlayedRow, r);
        Library library(Path("play-cache.txt"));
        if (r.measured) {
            MeasureAll(library, {Bytes(r.file)});
        } else {
            library.SetEnabled(true);
        }
        Platform::Mci::SetGainLookup([&library](const std::string& file) {
            return library.Gain(QByteArray::fromStdString(file));
        });
        const double played = PlayedLoudness(Bytes(r.file), r.volume);
        Platform::Mci::SetGainLookup({});
        QVERIFY2(std::abs(played - r.expectedLufs) <= 1.0, qPrintable(QString::number(played)));
    }
};

QTEST_GUILESS_MAIN(LoudnessTest)
#include "tst_loudness.moc"
