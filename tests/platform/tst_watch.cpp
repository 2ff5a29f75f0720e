// What the media service watches beyond its commands: a mix gone quiet, and streams from the
// network that play, stall and end.

#include <gst/app/gstappsink.h>

#include <QtTest>
#include <algorithm>
#include <vector>

#include "Icecast.h"
#include "MediaFixtures.h"
#include "TestHome.h"
#include "platform/mci/gstdevices.h"

using namespace Platform::Mci;

namespace {

QString Ask(GstDevices& devices, const QString& command) {
    std::string reply;
    const MciError result = devices.Execute(command.toStdString(), reply);
    return result == kNoError ? QString::fromStdString(reply)
                              : QStringLiteral("error %1").arg(result);
}

// Devices playing into a sink that keeps the samples, with the notices they post.
struct StreamRig : GstDevices {
    StreamRig() : GstDevices([this] { return MediaFixtures::MakeSampleSink(sink); }) {
        QCoreApplication::processEvents();  // an earlier rig's notices reach no one
        SetNoticeHandler([this](const std::string& alias, Notice n) {
            notices << QString::fromStdString(alias) + (n == Notice::Failed ? " failed" : " other");
        });
    }
    ~StreamRig() override {
        SetNoticeHandler({});
        gst_clear_object(&sink);
    }
    // Whether a sample the sink has taken reached half the tone's level.
    bool Heard() {
        while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 0)) {
            GstBuffer* buffer = gst_sample_get_buffer(sample);
            std::vector<float> f(gst_buffer_get_size(buffer) / sizeof(float));
            gst_buffer_extract(buffer, 0, f.data(), f.size() * sizeof(float));
            loud = loud || std::any_of(f.begin(), f.end(), [](float x) { return x > 0.25F; });
            gst_sample_unref(sample);
        }
        return loud;
    }
    bool loud = false;
    GstElement* sink = nullptr;
    QStringList notices;
};

}  // namespace

// clang-format off
struct QuietRow { double amplitude; bool sound; };  // amplitude: the tone's peak, of full scale
// A station that plays until its feeder dies, or a playlist naming a port where nothing listens,
// or one where a server takes the connection and never answers. failsWithinMs: from the play on.
enum class Station { Live, ClosedPort, Silent };
struct StationRow { Station station; int failsAfterMs, failsWithinMs; };
// clang-format on

class WatchTest : public QObject {
    Q_OBJECT
    TestHome dir_;

private slots:
    void initTestCase() { QVERIFY(QDir::setCurrent(dir_.path())); }

    // A window counts as sound from -50 dB RMS: a sine's RMS is 3 dB under its peak.
    void quietMix_data() {
        QTest::addColumn<QuietRow>("r");
        QTest::newRow("music") << QuietRow{0.5, true};
        QTest::newRow("a quiet passage at -43 dB") << QuietRow{0.01, true};
        QTest::newRow("hiss at -57 dB is dead air") << QuietRow{0.002, false};
        QTest::newRow("digital silence") << QuietRow{0.0, false};
    }
    void quietMix() {
        QFETCH(QuietRow, r);
        QVERIFY(MediaFixtures::MakeWav("quiet.wav", 3000, 440.0, r.amplitude));
        GstDevices d(GstDevices::FakeSink());
        QCOMPARE(d.Quiet(), std::nullopt);  // not measured unless asked
        d.MeasureQuiet(true);
        QVERIFY(Ask(d, "open quiet.wav alias a").isEmpty() && Ask(d, "play a").isEmpty());
        // Heard for a second and a half, however slow the start (the sanitizers' is).
        QTRY_VERIFY_WITH_TIMEOUT(Ask(d, "status a position").toInt() >= 1500, 10000);
        const auto quiet = d.Quiet();
        QVERIFY(quiet.has_value());
        QVERIFY2(r.sound ? *quiet < std::chrono::milliseconds(500)
                         : *quiet >= std::chrono::milliseconds(1400),
                 qPrintable(QString::number(quiet->count())));
    }

    void stream_data() {
        const int patience = std::chrono::milliseconds(GstDevices::kStreamPatience).count();
        QTest::addColumn<StationRow>("r");
        QTest::newRow("a station, until its feeder dies") << StationRow{Station::Live, 0, 3000};
        QTest::newRow("nothing listens") << StationRow{Station::ClosedPort, 0, patience};
        QTest::newRow("a server that never answers")
            << StationRow{Station::Silent, patience - 500, patience + 1500};
    }
    // A stream connects while the commands go on, reads "playing" meanwhile, says what it plays,
    // and fails by a notice when it stops: not before it has had its time, nor long after.
    void stream() {
        QFETCH(StationRow, r);
        IcecastServer icecast;
        SilentServer silent;
        QVERIFY(icecast.Start());
        const quint16 closedPort = icecast.Port() + 1;  // the server listens on its one port
        const QString url = r.station == Station::Live ? icecast.Url("radio.mp3")
                            : r.station == Station::Silent
                                ? icecast.Url("x").replace(QString::number(icecast.Port()),
                                                           QString::number(silent.Port()))
                                : icecast.Url("x").replace(QString::number(icecast.Port()),
                                                           QString::number(closedPort));
        QVERIFY(MediaFixtures::MakeFile("radio.m3u", "#EXTM3U\n" + url.toUtf8() + "\n"));
        if (r.station == Station::Live)
            QVERIFY(icecast.Feed("radio.mp3", 440));
        StreamRig d;
        QElapsedTimer played;
        QVERIFY(Ask(d, "open radio.m3u alias a").isEmpty() && Ask(d, "play a from 0").isEmpty());
        played.start();
        QCOMPARE(Ask(d, "status a mode"), QString("playing"));
        if (r.station == Station::Live) {
            QTRY_VERIFY_WITH_TIMEOUT(d.Heard(), 5000);
            QVERIFY(icecast.SetTitle("radio.mp3", "News at ten"));
            QTRY_COMPARE_WITH_TIMEOUT(d.StreamTitle("a"), std::string("News at ten"), 5000);
            QVERIFY(d.notices.isEmpty());
            icecast.StopFeed("radio.mp3");
            played.restart();
        }
        QTRY_VERIFY_WITH_TIMEOUT(d.notices.contains("a failed"), r.failsWithinMs + 3000);
        QVERIFY2(played.elapsed() >= r.failsAfterMs && played.elapsed() <= r.failsWithinMs,
                 qPrintable(QString::number(played.elapsed())));
        QCOMPARE(Ask(d, "status a mode"), QString("stopped"));
    }
};

int RunWatchTests(int argc, char** argv) {
    WatchTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_watch.moc"
