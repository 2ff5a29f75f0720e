// The playback core against a scripted media service, without widgets; one case plays real files.

#include <gst/app/gstappsink.h>

#include <QtTest>
#include <vector>

#include "FakeMci.h"
#include "MediaFixtures.h"
#include "audio/Mod_MCI.h"
#include "platform/mci/gstdevices.h"
#include "scheduler/MediaList.h"
#include "scheduler/PlayLog.h"
#include "scheduler/Scheduler.h"

using Outcome = Scheduler::Outcome;

const QString kMode0 = "status ZEL0 mode", kMode1 = "status ZEL1 mode", kVol = "status ZEL0 Volume";
const QStringList kIdle{kMode0, kMode1, kVol};  // a tick that starts and fades nothing

// Each fade step sets the music level and then shows it, which reads the level back.
QStringList Fade(int from, int to) {
    const QStringList step{QString("setaudio ZEL0 Volume to %1").arg(from * 10), kVol};
    return from == to ? step : step + Fade(from < to ? from + 1 : from - 1, to);
}

// Starting a file; the fake gives a length of 750 frames for a file it opens, -1 for one it can't.
// Music that plays is measured again, to cue the next file before its end.
QStringList Start(const QString& alias, const QString& path, int level, bool opens = true) {
    const QStringList length{"set " + alias + " time format frames", "status " + alias + " length"};
    return QString(
               "Close %1|open %2 type MPEGVideo Alias %1 parent 0 Style 1073741824|setaudio %1 "
               "Volume to %3")
               .arg(alias, path, QString::number(level * 10))
               .split('|') +
           length + QStringList{QString("play %1 from 0 to %2").arg(alias, opens ? "750" : "-1")} +
           (opens && alias == "ZEL0" ? length : QStringList());
}

// clang-format off
struct CycleRow { int interval, high, low; bool musicEnds; QString atLevel98; };  // at 98: "tick", "stop" or "end" (of the music)
struct NextRow { int finishes; QString removed; QStringList unplayable; QStringList next; };
struct ReportRow { bool on; std::function<void()> end; QList<Outcome> reported; qint64 lengthMs; };  // end: how the message stops; none: it cannot be opened
struct LineRow { QByteArray path; qint64 lengthMs; Outcome outcome; int offsetSeconds; QByteArray line; };
// clang-format on

// A core on temporary media folders; nothing ticks it but the test.
struct Core {
    QTemporaryDir dir;
    FakeMciInstaller fake;
    MediaList music, messages;
    int interval = 0, high = 100, low = 10, message = 80, crossfade = 0, everySongs = 0;
    Scheduler core{
        {[this] { return interval; }, [this] { return high; }, [this] { return low; },
         [this] { return message; }, [this] { return crossfade; }, [this] { return everySongs; }},
        music,
        messages};
    Core() {
        QDir(dir.path()).mkdir("Music");
        QDir(dir.path()).mkdir("Messages");
        music.SetPath(dir.filePath("Music"));
        messages.SetPath(dir.filePath("Messages"));
    }
    QString Path(const QString& name) const { return dir.filePath(name); }
    void Add(const QString& name) const { MediaFixtures::MakeFile(Path(name), "x"); }
    // Runs `action` `times` times, letting notices arrive and fades run out; returns what was sent.
    QStringList Do(const std::function<void()>& action, int times = 1) {
        const std::size_t before = fake->commands.size();
        for (int i = 0; i < times; ++i) {
            action();
            QCoreApplication::processEvents();
            while (core.Fading())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        QCoreApplication::processEvents();
        QStringList sent;
        for (std::size_t i = before; i < fake->commands.size(); ++i)
            sent << QString::fromStdString(fake->commands[i]);
        return sent;
    }
    QStringList Tick(int times = 1) {
        return Do([&] { core.Tick(); }, times);
    }
    QStringList Finish(const char* alias) {
        return Do([&] { fake->Finish(alias); });
    }
};

class SchedulerTest : public QObject {
    Q_OBJECT

    std::optional<Core> c;

private slots:
    void init() { c.emplace(); }
    void cleanup() { c.reset(); }

    void messageCycle_data() {
        QTest::addColumn<CycleRow>("r");
        QTest::newRow("1 s, 100 down to 10") << CycleRow{1, 100, 10, false, ""};
        QTest::newRow("60 s") << CycleRow{60, 100, 99, false, ""};
        QTest::newRow("low above high: no fade") << CycleRow{1, 40, 60, false, ""};
        QTest::newRow("music ends during the message") << CycleRow{1, 100, 95, true, ""};
        QTest::newRow("a tick due in the fade is dropped") << CycleRow{1, 100, 95, false, "tick"};
        QTest::newRow("stopped in the fade") << CycleRow{1, 100, 95, false, "stop"};
        QTest::newRow("music ends in the fade") << CycleRow{1, 100, 95, false, "end"};
    }
    // Ticks while the message plays don't count. A music file that ends is followed at once, and
    // the music comes back up as soon as the message ends, without waiting for a tick.
    void messageCycle() {
        QFETCH(CycleRow, r);
        c->Add("Music/tune.mp3");
        c->Add("Messages/notice.mp3");
        c->interval = r.interval, c->high = r.high, c->low = r.low;
        QCOMPARE(c->Tick(r.interval).filter("Alias ZEL1"), QStringList());
        bool fired = r.atLevel98.isEmpty();
        c->fake->onCommand = [&](const std::string& command) {
            if (command != "setaudio ZEL0 Volume to 980" || std::exchange(fired, true))
                return;
            r.atLevel98 == "tick"   ? c->core.Tick()
            : r.atLevel98 == "stop" ? c->core.Stop()
                                    : c->fake->Finish("ZEL0");
        };
        const QStringList down = r.high > r.low ? Fade(r.high, r.low) : QStringList();
        const QString tune = c->Path("Music/tune.mp3");
        if (r.atLevel98 == "stop") {  // the fade ends with no command more, and nothing starts
            QCOMPARE(c->Tick(), kIdle + down.mid(0, 5));
            QCOMPARE(c->Do([&] { QTest::qWait(50), c->core.Tick(); }), QStringList());
            return;
        }
        const QStringList restart = QStringList{kMode0} + Start("ZEL0", tune, 98) + down.mid(5);
        QCOMPARE(c->Tick(), kIdle + (r.atLevel98 == "end" ? down.mid(0, 5) + restart : down) +
                                Start("ZEL1", c->Path("Messages/notice.mp3"), 80));
        QCOMPARE(c->Finish(r.musicEnds ? "ZEL0" : "none"),
                 r.musicEnds ? QStringList{kMode0} + Start("ZEL0", tune, r.high) : QStringList());
        QCOMPARE(c->Tick(), (QStringList{kMode0, kMode1}));
        QCOMPARE(c->core.MessageTicks(), 0);
        const QStringList up = down.isEmpty() || r.musicEnds ? QStringList() : Fade(r.low, r.high);
        QCOMPARE(c->Finish("ZEL1"), (QStringList{kMode1, kVol} + up));
        QCOMPARE(c->Tick(), kIdle);
        QCOMPARE(c->core.MessageTicks(), 1);
    }

    // Folders are read at every start, a missing one as empty; an unreadable level fades up fully,
    // a missing message not.
    void countAndEmptyFolders() {
        c->interval = 2;
        QCOMPARE(c->Tick(), kIdle + Fade(10, 100));
        c->Add("Music/tune.mp3");
        QCOMPARE(c->Tick(), QStringList{kMode0} + Start("ZEL0", c->Path("Music/tune.mp3"), 100) +
                                kIdle.mid(1));
        QCOMPARE(c->Tick(4), kIdle + kIdle + kIdle + kIdle);
        QCOMPARE(c->core.MessageTicks(), 0);  // attempts on ticks 3 and 6
        c->interval = 5;
        c->Tick(3);
        c->interval = 0;  // holds the count
        QCOMPARE(c->Tick(5), kIdle + kIdle + kIdle + kIdle + kIdle);
        QCOMPARE(c->core.MessageTicks(), 3);
        c->Add("Messages/notice.mp3");
        c->interval = 2;  // now below the count
        QCOMPARE(c->Tick().filter("Alias ZEL1").size(), 1);
        c->music.SetPath(c->Path("missing"));
        QCOMPARE(c->music.ListCount(), 0);
    }

    void nextFile_data() {
        QTest::addColumn<NextRow>("r");
        // clang-format off
        QTest::newRow("wraps to the first") << NextRow{3, "", {}, {"a.mp3"}};
        QTest::newRow("last started deleted: first") << NextRow{1, "B.MP3", {}, {"a.mp3"}};
        QTest::newRow("unplayable file followed at once") << NextRow{0, "", {"B.MP3"}, {"B.MP3", "c.wav"}};
        QTest::newRow("nothing plays: one pass a tick") << NextRow{0, "", {"a.mp3", "B.MP3", "c.wav", "d.Mp3"}, {"a.mp3", "B.MP3", "c.wav", "d.Mp3"}};
        // clang-format on
    }
    // The list holds matching files only (case ignored; no folders or hidden files), sorted with
    // case ignored. After a's start and `finishes` more ends, each followed by a tick, the next end
    // and tick start `next` and no file more. Unplayable files are logged once, by name.
    void nextFile() {
        QFETCH(NextRow, r);
        QDir(c->dir.path()).mkdir("Music/m.mp3");
        for (const QString name :
             {"d.Mp3", "c.wav", "B.MP3", "a.mp3", "e.txt", "f.mp3.bak", ".h.mp3"})
            c->Add("Music/" + name);
        for (const QString& name : r.unplayable) {
            c->fake->unplayable.insert(name.toStdString());
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("/" + name + " cannot be played"));
        }
        c->music.SetPattern("*.mp3;*.wav");
        c->Tick();
        QCOMPARE(c->music.rowCount(), 4);
        QCOMPARE(c->music.data(c->music.index(1), Qt::DisplayRole).toString(), "B.MP3");
        for (int i = 0; i < r.finishes; ++i)
            c->Finish("ZEL0"), c->Tick();
        QFile::remove(c->Path("Music/" + r.removed));
        QStringList expected;
        for (const QString& name : r.next)
            expected += Start("ZEL0", c->Path("Music/" + name), 100, !r.unplayable.contains(name));
        QStringList sent = c->Finish("ZEL0");
        sent += c->Tick();
        QCOMPARE(sent.mid(1, expected.size()), expected);
        QCOMPARE(sent.filter("open ").size(), r.next.size());
    }

    void messageReports_data() {
        QTest::addColumn<ReportRow>("r");
        // clang-format off
        QTest::newRow("played to its end") << ReportRow{true, [this] { c->Finish("ZEL1"); }, {Outcome::Played}, 30000};
        QTest::newRow("end found by a tick") << ReportRow{true, [this] { c->fake->devices["ZEL1"].mode = "stopped"; }, {Outcome::Played}, 30000};
        QTest::newRow("broke off") << ReportRow{true, [this] { c->fake->Fail("ZEL1"); }, {Outcome::Failed}, 30000};
        QTest::newRow("failed notice found by a tick first") << ReportRow{true, [this] { c->fake->Fail("ZEL1"), c->core.Tick(); }, {Outcome::Failed}, 30000};
        QTest::newRow("cannot be opened") << ReportRow{true, {}, {Outcome::Failed}, 0};
        QTest::newRow("ended by shutdown") << ReportRow{true, [this] { c->core.Stop(); }, {Outcome::CutShort}, 30000};
        QTest::newRow("off: nothing") << ReportRow{false, [this] { c->Finish("ZEL1"); }, {}, 0};
        // clang-format on
    }
    // Each message started is reported once, when it has stopped, with how it ended. (Off, no
    // command is added: messageCycle compares every command.)
    void messageReports() {
        QFETCH(ReportRow, r);
        c->Add("Music/tune.mp3");
        c->Add("Messages/notice.mp3");
        c->interval = 1, c->low = 95;
        c->core.SetMessageReports(r.on);
        if (!r.end) {
            c->fake->unplayable.insert("notice.mp3");
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("notice.mp3 cannot be played"));
        }
        QList<Scheduler::MessagePlay> reported;
        connect(&c->core, &Scheduler::MessageFinished,
                [&](const Scheduler::MessagePlay& play) { reported << play; });
        const QDateTime before = QDateTime::currentDateTime();
        c->Tick(2);
        const QDateTime started = QDateTime::currentDateTime();
        if (r.end)
            r.end();
        c->Tick();  // counts 1: no message yet
        c->core.Stop();
        QList<Outcome> outcomes;
        for (const Scheduler::MessagePlay& play : reported) {
            outcomes << play.outcome;
            QCOMPARE(play.path, QFile::encodeName(c->Path("Messages/notice.mp3")));
            QCOMPARE(play.lengthMs, r.lengthMs);
            QVERIFY(play.start >= before && play.start <= started);
        }
        QCOMPARE(outcomes, r.reported);
    }

    void playLogLine_data() {
        QTest::addColumn<LineRow>("r");
        // clang-format off
        QTest::newRow("quotes doubled") << LineRow{"/m/Say \"hi\", now.mp3", 0, Outcome::CutShort, 0, "2026-12-06T17:05:00+00:00,\"Say \"\"hi\"\", now.mp3\",0.00,cut short\n"};
        QTest::newRow("never a formula") << LineRow{"/m/=1+2.mp3", 500, Outcome::Failed, -9000, "2026-12-06T17:05:00-02:30,\"'=1+2.mp3\",0.50,failed\n"};
        QTest::newRow("played; name as the folder gave it") << LineRow{"/m/\xc3\xa9t\xc3\xa9 hours.wav", 12040, Outcome::Played, 3600, "2026-12-06T17:05:00+01:00,\"\xc3\xa9t\xc3\xa9 hours.wav\",12.04,played\n"};
        // clang-format on
    }
    void playLogLine() {
        QFETCH(LineRow, r);
        const QDateTime start(QDate(2026, 12, 6), QTime(17, 5), QTimeZone(r.offsetSeconds));
        QCOMPARE(PlayLog::Line({start, r.path, r.lengthMs, r.outcome}), r.line);
    }

    // A file per month, its header written once; lines are appended, never rewritten. A folder
    // that cannot be made is reported, not passed over.
    void playLogFiles() {
        const PlayLog log(c->Path("Play Log"));
        const QDateTime december(QDate(2026, 12, 31), QTime(23, 59));
        for (const QDateTime& start : {december, december.addSecs(120), december})
            QVERIFY(log.Append({start, "/m/a.mp3", 1000, Outcome::Played}));
        QFile file(log.Folder() + "/plays-2026-12.csv");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray line = PlayLog::Line({december, "/m/a.mp3", 1000, Outcome::Played});
        QCOMPARE(file.readAll(), "time,file,length_seconds,outcome\n" + line + line);
        QCOMPARE(QDir(log.Folder()).entryList(QDir::Files).size(), 2);
        QVERIFY(MediaFixtures::MakeFile(c->Path("taken"), "x"));
        QVERIFY(!PlayLog(c->Path("taken")).Append({december, "/m/a.mp3", 0, Outcome::Played}));
    }

    // Real files, and no tick after the first: each music file is cued before the one playing
    // ends and takes over at its last sample, so the music goes on unbroken by itself. A name that
    // is not UTF-8 reaches the media layer as the bytes it has; one with a quote plays too. A file
    // deleted while it is cued is passed over for the one after it.
    void musicGoesOnByItself() {
        GstElement* sink = nullptr;
        auto previous = Platform::Mci::SetService(std::make_unique<Platform::Mci::GstDevices>(
            [&sink] { return MediaFixtures::MakeSampleSink(sink); }));
        const auto restore = qScopeGuard([&] { Platform::Mci::SetService(std::move(previous)); });
        const QList<QByteArray> names{"a.wav", "b\xe9.wav", "say \"hi\".wav", "z.wav"};
        for (const QByteArray& name : names) {
            // Whole cycles of one tone in every file: played in a row they are one sine.
            QVERIFY(MediaFixtures::MakeWav(c->Path("Music/x.wav"), 700, 44100.0 / 64));
            QVERIFY(::rename(QFile::encodeName(c->Path("Music/x.wav")),
                             QFile::encodeName(c->Path("Music/")) + name) == 0);
        }
        QList<QByteArray> started;
        connect(&c->music, &MediaList::ListIndexChanged, [&] {
            if (!c->music.FileBytes().isEmpty() &&
                (started.isEmpty() || started.last() != c->music.FileBytes()))
                started << c->music.FileBytes();
        });
        c->core.Tick();
        QTRY_COMPARE_WITH_TIMEOUT(started.size(), 5, 10000);
        QCOMPARE(started, names + QList{names[0]});
        std::vector<float> left;
        while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 0)) {
            GstMapInfo map;
            if (gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ)) {
                for (gsize i = 0; i < map.size / sizeof(float); i += 2)
                    left.push_back(reinterpret_cast<const float*>(map.data)[i]);
                gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
            }
            gst_sample_unref(sample);
        }
        const auto first =
            std::find_if(left.begin(), left.end(), [](float x) { return x > 0.01F; });
        QVERIFY(left.end() - first > 4 * 30000);  // four files and more
        // A sine of 0.5 moves 0.05 at most. Not looked at under the sanitizers, whose allocator
        // keeps no real time: the mixer goes on without a strip that is late, heard as a break.
        for (auto x = first + 1; !CORVANE_SANITIZED && x < first + 4 * 30000; ++x)
            QVERIFY2(std::abs(*x - *(x - 1)) < 0.08F && std::abs(*x) + std::abs(*(x - 1)) > 1e-3F,
                     qPrintable(QString::number(x - first)));
        QVERIFY(::unlink(QFile::encodeName(c->Path("Music/")) + names[1]) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(started.size(), 6, 5000);
        QCOMPARE(started.last(), names[2]);
        gst_object_unref(sink);
    }

    // A message that falls due as two music files begin to crossfade starts once they are done,
    // though tracks this short are always in a crossfade.
    void messageWaitsForTheCrossfade() {
        auto previous = Platform::Mci::SetService(
            std::make_unique<Platform::Mci::GstDevices>(Platform::Mci::GstDevices::FakeSink()));
        const auto restore = qScopeGuard([&] { Platform::Mci::SetService(std::move(previous)); });
        QVERIFY(MediaFixtures::MakeWav(c->Path("Music/a.wav"), 4000) &&
                MediaFixtures::MakeWav(c->Path("Music/b.wav"), 4000) &&
                MediaFixtures::MakeWav(c->Path("Messages/m.wav"), 300));
        c->crossfade = 2;  // longer than the music's fade down, which comes before any message
        QElapsedTimer clock;
        clock.start();
        qint64 crossfadeBegan = -1;
        connect(&c->music, &MediaList::ListIndexChanged, [&] {
            if (crossfadeBegan < 0 && c->music.FileBytes() == "b.wav") {
                crossfadeBegan = clock.elapsed();
                QVERIFY(c->core.PlayNextFile(Scheduler::kMessages));
            }
        });
        c->core.Tick();
        QTRY_COMPARE_WITH_TIMEOUT(Mod_MCI::MciGetMode("ZEL1"), QString("playing"), 8000);
        const qint64 messageStarted = clock.elapsed();
        QVERIFY2(crossfadeBegan >= 0 && messageStarted - crossfadeBegan >= 1950,
                 qPrintable(QString("%1 %2").arg(crossfadeBegan).arg(messageStarted)));
    }

    // A timed message ducks the music from where it is; those that fall due while a message plays
    // follow it in their order with the music kept down, which rises after the last. The
    // rotation's count is left as it was.
    void timedMessages() {
        for (const char* name : {"Music/tune.mp3", "Messages/notice.mp3", "t1.mp3", "t2.mp3"})
            c->Add(name);
        c->low = 97;
        c->Tick();
        const QStringList first = c->Do([&] { c->core.PlayTimed(c->Path("t1.mp3").toUtf8()); });
        QCOMPARE(first.filter("Alias ZEL1").size(), 1);
        QVERIFY(first.contains("setaudio ZEL0 Volume to 970"));
        QStringList sent = c->Do([&] {
            c->core.PlayTimed(c->Path("t2.mp3").toUtf8());
            c->core.PlayTimed(c->Path("t1.mp3").toUtf8());
        });
        QCOMPARE(sent.filter("Alias ZEL1"), QStringList());
        for (const char* next : {"t2.mp3", "t1.mp3"}) {
            sent = c->Finish("ZEL1");
            QCOMPARE(sent.filter("Alias ZEL1").size(), 1);
            QVERIFY(sent.filter("Alias ZEL1").first().contains(next));
            QCOMPARE(sent.filter("setaudio ZEL0"), QStringList());
        }
        QCOMPARE(c->Finish("ZEL1"), (QStringList{kMode1, kVol} + Fade(97, 100)));
        QCOMPARE(c->core.MessageTicks(), 0);
    }

    // Every N songs: the interval counts nothing; the Nth file fades down as it ends, so the next
    // starts down and the message at once, without a fade of its own.
    void everySongs() {
        for (const char* name : {"Music/a.mp3", "Music/b.mp3", "Messages/notice.mp3"})
            c->Add(name);
        c->everySongs = 2, c->interval = 1, c->low = 95;
        c->fake->onCommand = [&](const std::string& command) {
            if (command.find("Alias ZEL0 ") != std::string::npos)
                c->fake->devices["ZEL0"].lengthFrames = 10;  // 400 ms
        };
        QCOMPARE(c->Tick(3).filter("Alias ZEL1"), QStringList());
        QCOMPARE(c->Finish("ZEL0").filter("Alias ZEL1"), QStringList());
        QTest::qWait(600);
        QCOMPARE(c->fake->devices["ZEL0"].volume, 950);
        const QStringList sent = c->Finish("ZEL0");
        const QStringList music = Start("ZEL0", c->Path("Music/a.mp3"), 95).mid(0, 3);
        QCOMPARE(sent.mid(sent.indexOf(music[0]), 3), music);
        QCOMPARE(sent.filter("Alias ZEL1").size(), 1);
        QCOMPARE(sent.filter("setaudio ZEL0"), QStringList{music[2]});
    }

    // Closing time fades both channels out and closes every device, the message cut short; nothing
    // starts or counts until the opening, where the music starts at once at its full level.
    void closeAndOpen() {
        c->Add("Music/tune.mp3"), c->Add("Messages/notice.mp3");
        c->interval = 1, c->low = 95;
        c->core.SetMessageReports(true);
        QList<Outcome> outcomes;
        connect(&c->core, &Scheduler::MessageFinished,
                [&](const Scheduler::MessagePlay& play) { outcomes << play.outcome; });
        c->Tick(2);
        c->fake->devices["ZEL1"].volume = 800;
        const QStringList sent = c->Do([&] {
            c->core.Close(std::chrono::milliseconds(50));
            QTest::qWait(200);
        });
        for (const char* faded : {"setaudio ZEL0 Volume to 570", "setaudio ZEL1 Volume to 480",
                                     "setaudio ZEL0 Volume to 0", "setaudio ZEL1 Volume to 0"})
            QVERIFY2(sent.contains(faded), qPrintable(faded));
        QVERIFY(sent.contains("Close All"));
        QCOMPARE(outcomes, QList<Outcome>{Outcome::CutShort});
        const qint16 count = c->core.MessageTicks();
        QCOMPARE(c->Tick(3), (QStringList{kMode0, kMode1, kMode0, kMode1, kMode0, kMode1}));
        QCOMPARE(c->Do([&] {
            QVERIFY(!c->core.PlayNextFile(Scheduler::kMessages));
            c->core.PlayTimed(c->Path("Messages/notice.mp3").toUtf8());
        }),
                 QStringList());
        QCOMPARE(c->core.MessageTicks(), count);
        QCOMPARE(c->Do([&] { c->core.Open(); }), Start("ZEL0", c->Path("Music/tune.mp3"), 100));
    }
};

int RunScheduleTests(int argc, char** argv);  // tst_schedule.cpp

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    SchedulerTest core;
    const int failed = QTest::qExec(&core, argc, argv);
    return failed + RunScheduleTests(argc, argv);
}
#include "tst_scheduler.moc"
