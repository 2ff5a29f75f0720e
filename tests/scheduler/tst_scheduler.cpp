// The playback core against a scripted media service, without widgets, and the day run on it by a
// clock of the test's own; one case plays real files.

#include <gst/app/gstappsink.h>

#include <QtTest>
#include <vector>

#include "FakeMci.h"
#include "MediaFixtures.h"
#include "audio/Mod_MCI.h"
#include "platform/mci/gstdevices.h"
#include "scheduler/DayPlanner.h"
#include "scheduler/Fader.h"
#include "scheduler/MediaList.h"
#include "scheduler/PlayLog.h"
#include "scheduler/Scheduler.h"

using namespace std::chrono_literals;
using Outcome = Scheduler::Outcome;
using Message = Scheduler::Message;

// What the channels did, in order, read from the commands sent: a file started on a channel at its
// level ("ZEL1 notice.mp3 at 80", or "... unplayable"), a run of level steps one way on one alias
// ("ZEL0 100..10 in 91"), a single level ("ZEL0 at 98"), "ZEL0 pause", "ZEL0 resume", "close all".
// Queries and read-backs are left out, so that a harmless change in them breaks nothing.
QStringList Timeline(const std::vector<std::string>& commands, std::size_t from = 0) {
    static const QRegularExpression open(R"re(^open "?(.*?)"? type MPEGVideo Alias (\S+) )re");
    static const QRegularExpression level(R"(^setaudio (\S+) Volume to (\d+)$)");
    static const QRegularExpression play(R"(^play (\S+) from 0 to (-?\d+)$)");
    static const QRegularExpression hold(R"(^(pause|resume) (\S+)$)");
    QStringList events;
    QMap<QString, QPair<QString, int>> opened;  // by alias: the file's name and its start level
    struct Run {
        QString alias;
        int from = 0, last = 0, count = 0;
    } run;
    const auto endRun = [&] {
        if (run.count > 0)
            events << run.alias + (run.count == 1 ? QString::asprintf(" at %d", run.from)
                                                  : QString::asprintf(" %d..%d in %d", run.from,
                                                                      run.last, run.count));
        run = {};
    };
    const auto add = [&](const QString& event) { endRun(), events << event; };
    for (std::size_t i = from; i < commands.size(); ++i) {
        const QString command = QString::fromStdString(commands[i]);
        if (const auto m = open.match(command); m.hasMatch()) {
            opened[m.captured(2)] = {QFileInfo(m.captured(1)).fileName(), -1};
        } else if (const auto l = level.match(command); l.hasMatch()) {
            const QString alias = l.captured(1);
            const int to = l.captured(2).toInt() / 10;
            if (opened.contains(alias)) {
                opened[alias].second = to;
            } else if (run.alias == alias && run.count > 0 && to != run.last &&
                       (run.count == 1 || (to > run.last) == (run.last > run.from))) {
                run.last = to, ++run.count;
            } else {
                endRun();
                run = {alias, to, to, 1};
            }
        } else if (const auto p = play.match(command);
                   p.hasMatch() && opened.contains(p.captured(1))) {
            const auto [name, at] = opened.take(p.captured(1));
            add(p.captured(1) + " " + name +
                (p.captured(2) == "-1" ? QString(" unplayable") : QString(" at %1").arg(at)));
        } else if (const auto h = hold.match(command); h.hasMatch()) {
            add(h.captured(2) + " " + h.captured(1));
        } else if (command == "Close All") {
            add("close all");
        }
    }
    endRun();
    return events;
}

// clang-format off
struct CycleRow { int high, low; bool musicEnds; QString atLevel98; QStringList timeline; };  // at 98: "tick", "stop" or "end" (of the music)
struct PauseRow { QString trigger; Scheduler::Message in; QList<std::function<QStringList()>> reach; QStringList timeline; };  // paused at `trigger` sent in state `in`, during the steps of `reach`; none: not paused
struct NextRow { int finishes; QString removed; QStringList unplayable; QStringList next; };
struct ReportRow { bool on; std::function<void()> end; QList<Outcome> reported; qint64 lengthMs; };  // end: how the message stops; none: it cannot be opened
struct LineRow { QByteArray path; qint64 lengthMs; Outcome outcome; int offsetSeconds; QByteArray line; };
struct FolderRow { int lengthFrames; bool pause, fadesOut; QStringList started; std::string cued = {}; };  // a file of that length (40 ms frames) plays when the folder changes; `cued`: the file cued, waited for before
struct LevelMoveRow { bool underMessage, paused; int retargetTo; QStringList timeline; };  // the full level is set from 100 to 60, to be reached over 300 ms; at 90, by hand to `retargetTo`
struct FaderRow { int from, to; int overMs; int retargetAfter, retargetTo; QList<int> levels; };  // overMs 0: by units
// The clock runs from `from` to `to` (UTC), jumping from `jumpAt` to `jumpTo` if given; `played`
// are the local times the message started.
struct DayRow { const char* zone = nullptr; Schedule::Lines schedule = {}; QByteArray timed = {}; const char *from = nullptr, *to = nullptr; QStringList played = {}; int missed = 0; const char *jumpAt = nullptr, *jumpTo = nullptr; };
// clang-format on

struct TestClock : Clock {
    QDateTime now;
    QDateTime Now() const override { return now; }
};

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
        Mod_MCI::MciSetNotify([this](const QString& alias, Mod_MCI::MciNotice notice) {
            core.OnNotice(alias, notice);
        });
    }
    ~Core() { Mod_MCI::MciSetNotify({}); }
    QString Path(const QString& name) const { return dir.filePath(name); }
    void Add(const QStringList& names) const {
        for (const QString& name : names)
            MediaFixtures::MakeFile(Path(name), "x");
    }
    // The music plays from its first file, every file `frames` long (40 ms each).
    void ShortMusic(int frames) {
        music.SetListIndex(-1);
        fake->onCommand = [this, frames](const std::string& command) {
            if (command.find("Alias ZEL0 ") != std::string::npos)
                fake->devices["ZEL0"].lengthFrames = frames;
        };
    }
    // Runs `action` `times` times, letting notices arrive and fades run out; returns what the
    // channels did meanwhile.
    QStringList Do(const std::function<void()>& action, int times = 1) {
        const std::size_t before = fake->commands.size();
        for (int i = 0; i < times; ++i) {
            action();
            QCoreApplication::processEvents();
            while (core.Fading() && !core.Paused())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        QCoreApplication::processEvents();
        return Timeline(fake->commands, before);
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
        const QString tune = "ZEL0 tune.mp3 at ", notice = "ZEL1 notice.mp3 at 80";
        // clang-format off
        QTest::newRow("100 down to 10") << CycleRow{100, 10, false, "", {tune + "100", "ZEL0 100..10 in 91", notice, "ZEL0 10..100 in 91"}};
        QTest::newRow("low above high: no fade") << CycleRow{40, 60, false, "", {tune + "40", notice}};
        QTest::newRow("music ends during the message: full, no rise") << CycleRow{100, 95, true, "", {tune + "100", "ZEL0 100..95 in 6", notice, tune + "100"}};
        QTest::newRow("a tick due in the fade is dropped") << CycleRow{100, 95, false, "tick", {tune + "100", "ZEL0 100..95 in 6", notice, "ZEL0 95..100 in 6"}};
        QTest::newRow("stopped in the fade: no command more") << CycleRow{100, 95, false, "stop", {tune + "100", "ZEL0 100..98 in 3"}};
        QTest::newRow("music ends in the fade: the next joins it") << CycleRow{100, 95, false, "end", {tune + "100", "ZEL0 100..98 in 3", tune + "98", "ZEL0 97..95 in 3", notice, "ZEL0 95..100 in 6"}};
        // clang-format on
    }
    // Ticks while the message plays don't count. A music file that ends is followed at once, and
    // the music comes back up as soon as the message ends, without waiting for a tick.
    void messageCycle() {
        QFETCH(CycleRow, r);
        c->Add({"Music/tune.mp3", "Messages/notice.mp3"});
        c->interval = 1, c->high = r.high, c->low = r.low;
        bool fired = r.atLevel98.isEmpty();
        c->fake->onCommand = [&](const std::string& command) {
            if (command != "setaudio ZEL0 Volume to 980" || std::exchange(fired, true))
                return;
            r.atLevel98 == "tick"   ? c->core.Tick()
            : r.atLevel98 == "stop" ? c->core.Stop()
                                    : c->fake->Finish("ZEL0");
        };
        QStringList timeline = c->Tick(2);  // the second tick is past the interval
        if (r.atLevel98 != "stop") {
            if (r.musicEnds)
                timeline += c->Finish("ZEL0");
            timeline += c->Tick();
            QCOMPARE(c->core.MessageTicks(), 0);
            timeline += c->Finish("ZEL1");
            timeline += c->Tick();
            QCOMPARE(c->core.MessageTicks(), 1);
        } else {
            timeline += c->Do([&] { QTest::qWait(50), c->core.Tick(); });
        }
        QCOMPARE(timeline, r.timeline);
    }

    void pauseInEveryState_data() {
        QTest::addColumn<PauseRow>("r");
        const QString notice = "ZEL1 notice.mp3 at 80";
        const QStringList held{"ZEL0 pause", "ZEL1 pause", "ZEL0 resume", "ZEL1 resume"};
        using Step = std::function<QStringList()>;
        const Step tick = [this] { return c->Tick(); };
        const Step next = [this] { return c->Do([&] { c->core.NextTrack(); }); };
        const Step end = [this] { return c->Finish("ZEL1"); };
        // clang-format off
        QTest::newRow("in the fade down: it goes on from there") << PauseRow{"setaudio ZEL0 Volume to 980", Message::Ducking, {tick}, QStringList{"ZEL0 100..98 in 3"} + held + QStringList{"ZEL0 97..95 in 3", notice, "ZEL0 95..100 in 6"}};
        QTest::newRow("in the message: the rest of it plays") << PauseRow{"play ZEL1 from 0 to 750", Message::Ducking, {tick}, QStringList{"ZEL0 100..95 in 6", notice} + held + QStringList{"ZEL0 95..100 in 6"}};
        QTest::newRow("in Next Track's fade: the next file follows") << PauseRow{"setaudio ZEL0 Volume to 500", Message::Idle, {next}, QStringList{"ZEL0 96..50 in 15"} + held + QStringList{"ZEL0 46..0 in 15", "ZEL0 b.mp3 at 100"}};
        QTest::newRow("in the rise after a message") << PauseRow{"setaudio ZEL0 Volume to 970", Message::Idle, {tick, end}, QStringList{"ZEL0 100..95 in 6", notice, "ZEL0 95..97 in 3"} + held + QStringList{"ZEL0 98..100 in 3"}};
        // Skipped under a message, the next file starts down with it, and rises after it.
        QTest::newRow("not paused, Next Track under a message") << PauseRow{"", Message::Idle, {tick, next}, {"ZEL0 100..95 in 6", notice, "ZEL0 91..0 in 30", "ZEL0 b.mp3 at 95", "ZEL0 95..100 in 6"}};
        // clang-format on
    }
    // Paused in any state, nothing is sent until the resume, and then each channel goes on from
    // where it stood: a fade from its level, a message from where it was held.
    void pauseInEveryState() {
        QFETCH(PauseRow, r);
        c->Add({"Music/a.mp3", "Music/b.mp3", "Messages/notice.mp3"});
        c->interval = 1, c->low = 95;
        QCOMPARE(c->Tick(), QStringList{"ZEL0 a.mp3 at 100"});
        bool paused = false;
        c->fake->onCommand = [&](const std::string& command) {
            if (command == r.trigger.toStdString() && c->core.MessageState() == r.in &&
                !std::exchange(paused, true))
                c->core.Pause();
        };
        QStringList timeline;
        for (const auto& step : r.reach)
            timeline += step();
        QCOMPARE(c->core.Paused(), !r.trigger.isEmpty());
        timeline += c->Do([&] { QTest::qWait(100), c->core.Tick(); });
        timeline += c->Do([&] { c->core.Resume(); });
        timeline += c->Finish("ZEL1");
        QCOMPARE(timeline, r.timeline);
    }

    void fader_data() {
        QTest::addColumn<FaderRow>("r");
        // clang-format off
        QTest::newRow("by units, down") << FaderRow{5, 2, 0, -1, 0, {5, 4, 3, 2}};
        QTest::newRow("by units, retargeted past its end") << FaderRow{5, 2, 0, 1, 0, {5, 4, 3, 2, 1, 0}};
        QTest::newRow("by units, turned back") << FaderRow{5, 0, 0, 2, 6, {5, 4, 5, 6}};
        QTest::newRow("by units, nothing to do: one step") << FaderRow{7, 7, 0, -1, 0, {7}};
        QTest::newRow("over a length, retargeted: the steps left") << FaderRow{100, 0, 40, 2, 100, {75, 50, 75, 100}};
        QTest::newRow("shorter than a step: one") << FaderRow{80, 0, 3, -1, 0, {0}};
        // clang-format on
    }
    // Every level in order, `done` once after the last one has been held a step.
    void fader() {
        QFETCH(FaderRow, r);
        Fader fader;
        QList<int> levels;
        int done = 0;
        const auto apply = [&](int level) {
            levels << level;
            if (levels.size() == r.retargetAfter)
                fader.Retarget(r.retargetTo);
        };
        if (r.overMs == 0)
            fader.ByUnits(r.from, r.to, apply, [&] { ++done; });
        else
            fader.Over(r.from, r.to, std::chrono::milliseconds(r.overMs), apply, [&] { ++done; });
        QTRY_VERIFY(!fader.Running());
        QCOMPARE(levels, r.levels);
        QCOMPARE(done, 1);
    }

    // Folders are read at every start, a missing one as empty; an unreadable level rises fully,
    // a missing message is not ducked for.
    void countAndEmptyFolders() {
        c->interval = 2;
        QCOMPARE(c->Tick(), QStringList{"ZEL0 10..100 in 91"});
        c->Add({"Music/tune.mp3"});
        QCOMPARE(c->Tick(), QStringList{"ZEL0 tune.mp3 at 100"});
        QCOMPARE(c->Tick(4), QStringList());
        QCOMPARE(c->core.MessageTicks(), 0);  // attempts on ticks 3 and 6
        c->interval = 5;
        c->Tick(3);
        c->interval = 0;  // holds the count
        QCOMPARE(c->Tick(5), QStringList());
        QCOMPARE(c->core.MessageTicks(), 3);
        c->Add({"Messages/notice.mp3"});
        c->interval = 2;  // now below the count
        QVERIFY(c->Tick().contains("ZEL1 notice.mp3 at 80"));
        c->music.SetPath(c->Path("missing"));
        QCOMPARE(c->music.ListCount(), 0);
    }

    void nextFile_data() {
        QTest::addColumn<NextRow>("r");
        // clang-format off
        QTest::newRow("wraps to the first") << NextRow{3, "", {}, {"ZEL0 a.mp3 at 100"}};
        QTest::newRow("last started deleted: first") << NextRow{1, "B.MP3", {}, {"ZEL0 a.mp3 at 100"}};
        QTest::newRow("unplayable file followed at once") << NextRow{0, "", {"B.MP3"}, {"ZEL0 B.MP3 unplayable", "ZEL0 c.wav at 100"}};
        QTest::newRow("nothing plays: one pass a tick") << NextRow{0, "", {"a.mp3", "B.MP3", "c.wav", "d.Mp3"}, {"ZEL0 a.mp3 unplayable", "ZEL0 B.MP3 unplayable", "ZEL0 c.wav unplayable", "ZEL0 d.Mp3 unplayable", "ZEL0 10..100 in 91"}};
        // clang-format on
    }
    // The list holds matching files only (case ignored; no folders or hidden files), sorted with
    // case ignored. After a's start and `finishes` more ends, each followed by a tick, the next end
    // and tick do `next` and nothing more. Unplayable files are logged once, by name.
    void nextFile() {
        QFETCH(NextRow, r);
        QDir(c->dir.path()).mkdir("Music/m.mp3");
        c->Add({"Music/d.Mp3", "Music/c.wav", "Music/B.MP3", "Music/a.mp3", "Music/e.txt",
                "Music/f.mp3.bak", "Music/.h.mp3"});
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
        const QStringList ended = c->Finish("ZEL0");
        QCOMPARE(ended + c->Tick(), r.next);
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
        QTest::newRow("faded out at closing time") << ReportRow{true, [this] { c->core.Close(50ms); }, {Outcome::CutShort}, 30000};
        QTest::newRow("off: nothing") << ReportRow{false, [this] { c->Finish("ZEL1"); }, {}, 0};
        // clang-format on
    }
    // Each message started is reported once, when it has stopped, with how it ended. (Off, no
    // command is added: messageCycle compares every command.)
    void messageReports() {
        QFETCH(ReportRow, r);
        c->Add({"Music/tune.mp3", "Messages/notice.mp3"});
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
        c->Add({"Music/tune.mp3", "Messages/notice.mp3", "t1.mp3", "t2.mp3"});
        c->low = 97;
        c->Tick();
        c->fake->devices["ZEL0"].volume = 990;
        const auto timed = [&](const char* name) { c->core.PlayTimed(c->Path(name).toUtf8()); };
        QStringList timeline = c->Do([&] { timed("t1.mp3"); });
        timeline += c->Do([&] { timed("t2.mp3"), timed("t1.mp3"); });
        for (int i = 0; i < 3; ++i)
            timeline += c->Finish("ZEL1");
        QCOMPARE(timeline,
                 (QStringList{"ZEL0 99..97 in 3", "ZEL1 t1.mp3 at 80", "ZEL1 t2.mp3 at 80",
                              "ZEL1 t1.mp3 at 80", "ZEL0 97..100 in 4"}));
        QCOMPARE(c->core.MessageTicks(), 0);
    }

    void day_data() {
        QTest::addColumn<DayRow>("r");
        // clang-format off
        QTest::newRow("Berlin, clocks forward") << DayRow{"Europe/Berlin", {}, "02:30=m.mp3", "2026-03-29T00:55:00Z", "2026-03-29T01:10:00Z", {"03:00"}};
        QTest::newRow("Berlin, clocks back") << DayRow{"Europe/Berlin", {}, "02:30=m.mp3", "2026-10-25T00:20:00Z", "2026-10-25T02:10:00Z", {"02:30"}};
        QTest::newRow("clock steps back over it") << DayRow{"Europe/Berlin", {}, "13:00=m.mp3", "2026-12-07T12:00:30Z", "2026-12-07T12:03:00Z", {"13:00"}, 0, "2026-12-07T12:00:40Z", "2026-12-07T11:59:00Z"};
        QTest::newRow("started late, within 2 min") << DayRow{"Europe/Berlin", {}, "13:00=m.mp3", "2026-12-07T12:01:50Z", "2026-12-07T12:03:00Z", {"13:01"}};
        QTest::newRow("started later") << DayRow{"Europe/Berlin", {}, "13:00=m.mp3", "2026-12-07T12:02:10Z", "2026-12-07T12:03:00Z", {}, 1};
        QTest::newRow("outside the hours") << DayRow{"Europe/Berlin", {{1, "Monday=08:00-12:00"}}, "13:00=m.mp3", "2026-12-07T11:58:00Z", "2026-12-07T12:03:00Z", {}, 1};
        QTest::newRow("not its day") << DayRow{"Europe/Berlin", {}, "Sat-Sun 13:00=m.mp3", "2026-12-07T11:58:00Z", "2026-12-07T12:03:00Z", {}};
        QTest::newRow("just before midnight") << DayRow{"Europe/Berlin", {}, "23:59=m.mp3", "2026-12-07T22:58:00Z", "2026-12-07T23:03:00Z", {"23:59"}};
        // clang-format on
    }
    // Checked every few seconds, as ticks would, each timed message plays once when its minute
    // comes, or is missed once; a second run on the same record (a restart) plays none again.
    void day() {
        QFETCH(DayRow, r);
        c->Add({"m.mp3"});
        c->low = c->high;
        TestClock clock;
        const auto at = [zone = QTimeZone(r.zone)](const char* utc) {
            return QDateTime::fromString(utc, Qt::ISODate).toTimeZone(zone);
        };
        QStringList played;
        int missed = 0;
        for (int run = 0; run < 2; ++run) {
            DayPlanner planner(clock, c->core, c->Path("state"));
            connect(&planner, &DayPlanner::Missed, [&] { ++missed; });
            planner.SetPlan(Schedule::Parse({.schedule = r.schedule, .timed = {{1, r.timed}}},
                                            [&](const QString& file) { return c->Path(file); }));
            QDateTime jump = r.jumpAt ? at(r.jumpAt) : QDateTime();
            for (clock.now = at(r.from); clock.now < at(r.to); clock.now = clock.now.addSecs(7)) {
                if (jump.isValid() && clock.now >= jump)
                    clock.now = at(r.jumpTo), jump = {};
                if (!c->Do([&] { planner.Check(); }).filter("ZEL1 m.mp3").isEmpty())
                    played << clock.now.toString("HH:mm"), c->Finish("ZEL1");
            }
            QCOMPARE(played, r.played);
            QCOMPARE(missed, r.missed);
        }
    }

    // At an opening that is also a daypart's and a level line's minute, the music starts from the
    // daypart's folder at the line's level, rather than from the old folder at the old level.
    void openingInADaypart() {
        c->Add({"Music/x.mp3"});
        QVERIFY(QDir(c->Path("Music")).mkdir("Morning"));
        c->Add({"Music/Morning/a.mp3"});
        TestClock clock;
        DayPlanner planner(clock, c->core, {});
        connect(&planner, &DayPlanner::DaypartChanged,
                [&](const QString& name) { c->core.ChangeMusicFolder(c->Path("Music/" + name)); });
        connect(&planner, &DayPlanner::LevelDue, [&](int level, bool fade) {
            c->high = level, c->core.LevelsChanged(fade ? 300ms : 0ms);
        });
        clock.now = QDateTime(QDate(2026, 12, 7), QTime(7, 59), QTimeZone::utc());
        planner.SetPlan(Schedule::Parse({.schedule = {{1, "Monday=08:00-20:00"}},
                                         .dayparts = {{2, "08:00-12:00=Morning"}},
                                         .levels = {{3, "00:00=100"}, {4, "08:00=40"}}},
                                        {}));
        QCOMPARE(c->Do([&] { planner.Check(); }), QStringList());
        clock.now = clock.now.addSecs(60);
        QCOMPARE(c->Do([&] { planner.Check(); }), QStringList{"ZEL0 a.mp3 at 40"});
    }

    // Every N songs: the interval counts nothing; the Nth file fades down as it ends, so the next
    // starts down and the message at once, without a fade of its own.
    void everySongs() {
        c->Add({"Music/a.mp3", "Music/b.mp3", "Messages/notice.mp3"});
        c->everySongs = 2, c->interval = 1, c->low = 95;
        c->ShortMusic(10);
        QStringList timeline = c->Tick(3);
        timeline += c->Finish("ZEL0");
        timeline += c->Do([] { QTest::qWait(600); });
        timeline += c->Finish("ZEL0");
        QCOMPARE(timeline,
                 (QStringList{"ZEL0 a.mp3 at 100", "ZEL0 b.mp3 at 100", "ZEL0 100..95 in 6",
                              "ZEL0 a.mp3 at 95", "ZEL1 notice.mp3 at 80"}));
    }

    // A stream plays on without a cue, as there is no end to cue before; every four minutes of it
    // count as a song; when it fails, the folder's next file plays.
    void streamAsMusic() {
        c->Add({"Music/radio.m3u", "Music/z.mp3", "Messages/notice.mp3"});
        c->everySongs = 1, c->low = 90;
        c->music.SetListIndex(-1);
        c->fake->onCommand = [this](const std::string& command) {
            if (command.find("radio.m3u") != std::string::npos)
                c->fake->devices["ZEL0"].lengthFrames = 0;  // as a stream reports
        };
        const int song = static_cast<int>(Scheduler::kStreamSong.count());
        QCOMPARE(c->Tick(song - 1), QStringList{"ZEL0 radio.m3u at 100"});
        for (const std::string& command : c->fake->commands)
            QVERIFY2(command.rfind("cue ", 0) != 0, command.c_str());
        QCOMPARE(c->Tick(2), (QStringList{"ZEL0 100..90 in 11", "ZEL1 notice.mp3 at 80"}));
        c->fake->Finish("ZEL1");
        c->Tick(3);
        // The stream's last minutes were a song too: the file after it brings a message.
        QCOMPARE(c->Do([this] { c->fake->Fail("ZEL0"); }),
                 (QStringList{"ZEL0 z.mp3 at 100", "ZEL0 100..90 in 11", "ZEL1 notice.mp3 at 80"}));
    }

    // A new folder: the file playing plays to its end and the new folder's first file follows;
    // one cued is cued again from the new folder. A file that would run on past the longest
    // run-on fades out over the folder change's fade to end then; paused, that time waits.
    void musicFolderChange_data() {
        QTest::addColumn<FolderRow>("r");
        // clang-format off
        QTest::newRow("to its end, cued again") << FolderRow{50, false, false, {"ZEL0 a.mp3 at 100"}, "Lunch/a.mp3"};
        QTest::newRow("runs on too long, paused meanwhile") << FolderRow{1'000'000, true, true, {"ZEL0 pause", "ZEL1 pause", "ZEL0 resume", "ZEL1 resume", "ZEL0 a.mp3 at 100"}};
        // clang-format on
    }
    void musicFolderChange() {
        QFETCH(FolderRow, r);
        QVERIFY(QDir(c->Path("Music")).mkdir("Lunch"));
        c->Add({"Music/x.mp3", "Music/y.mp3", "Music/Lunch/b.mp3", "Music/Lunch/a.mp3"});
        c->ShortMusic(r.lengthFrames);
        QCOMPARE(c->Tick(), QStringList{"ZEL0 x.mp3 at 100"});
        if (!r.cued.empty())
            QTRY_VERIFY(c->fake->devices.count("ZEL0Next") == 1);
        // Run on for 0.5 s at most, then the fade.
        const auto longest = Scheduler::kFolderChangeFade + 500ms;
        QStringList timeline = c->Do([&] {
            c->core.ChangeMusicFolder(c->Path("Music/Lunch"), longest);
            if (r.pause)
                c->core.Pause(), QTest::qWait(800), c->core.Resume();
            QTest::qWait(600);
        });
        if (!r.fadesOut)
            timeline += c->Finish("ZEL0");
        QCOMPARE(timeline.filter(QRegularExpression("mp3|pause|resume")), r.started);
        QCOMPARE(std::ranges::count(c->fake->commands, "setaudio ZEL0 Volume to 0") > 0,
                 r.fadesOut);
        QVERIFY(
            r.cued.empty() || std::ranges::any_of(c->fake->commands, [&](const std::string& sent) {
                return sent.find("Alias ZEL0Next") != sent.npos && sent.find(r.cued) != sent.npos;
            }));
    }

    // A new full level reached over a length: the music moves to it while up; under a message,
    // or paused, it stays and the rise goes to the new level. Moved by hand meanwhile, the move
    // ends at the hand's level.
    void levelOverALength_data() {
        QTest::addColumn<LevelMoveRow>("r");
        // clang-format off
        QTest::newRow("music up") << LevelMoveRow{false, false, -1, {"ZEL0 98..60 in 30"}};
        QTest::newRow("moved by hand") << LevelMoveRow{false, false, 40, {"ZEL0 98..40 in 30"}};
        QTest::newRow("under a message") << LevelMoveRow{true, false, -1, {"ZEL0 at 10", "ZEL1 at 80", "ZEL0 10..60 in 51"}};
        QTest::newRow("paused") << LevelMoveRow{false, true, -1, {"ZEL0 pause", "ZEL1 pause", "ZEL0 at 60", "ZEL0 resume", "ZEL1 resume"}};
        // clang-format on
    }
    void levelOverALength() {
        QFETCH(LevelMoveRow, r);
        c->Add({"Music/tune.mp3", "Messages/notice.mp3"});
        c->Tick();
        if (r.underMessage)
            c->Do([&] { c->core.PlayMessageNow(); });
        c->fake->onCommand = [&](const std::string& command) {
            if (r.retargetTo >= 0 && command == "setaudio ZEL0 Volume to 900")
                c->high = r.retargetTo, c->core.LevelsChanged();
        };
        QStringList timeline = c->Do([&] {
            if (r.paused)
                c->core.Pause();
            c->high = 60;
            c->core.LevelsChanged(300ms);
            if (r.paused)
                c->core.Resume();
        });
        if (r.underMessage)
            timeline += c->Finish("ZEL1");
        QCOMPARE(timeline, r.timeline);
    }

    // Closing time fades both channels out, each from its own level, and closes every device (the
    // message is reported cut short: messageReports); nothing starts or counts until the opening,
    // where the music starts at once at its full level.
    void closeAndOpen() {
        c->Add({"Music/tune.mp3", "Messages/notice.mp3"});
        c->interval = 1, c->low = 95;
        c->Tick(2);
        const QStringList closing = c->Do([&] { c->core.Close(50ms); });
        QCOMPARE(closing, (QStringList{"ZEL0 at 76", "ZEL1 at 64", "ZEL0 at 57", "ZEL1 at 48",
                                       "ZEL0 at 38", "ZEL1 at 32", "ZEL0 at 19", "ZEL1 at 16",
                                       "ZEL0 at 0", "ZEL1 at 0", "close all"}));
        const qint16 count = c->core.MessageTicks();
        QCOMPARE(c->Do([&] {
            c->core.Tick(), c->core.Tick(), c->core.NextTrack();
            QVERIFY(!c->core.PlayNextFile(Scheduler::kMessages));
            QVERIFY(!c->core.PlayTimed(c->Path("Messages/notice.mp3").toUtf8()));
        }),
                 QStringList());
        QCOMPARE(c->core.MessageTicks(), count);
        QCOMPARE(c->Do([&] { c->core.Open(); }), QStringList{"ZEL0 tune.mp3 at 100"});
    }
};

int RunScheduleTests(int argc, char** argv);  // tst_schedule.cpp
int RunShuffleTests(int argc, char** argv);   // tst_shuffle.cpp

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    SchedulerTest core;
    const int failed = QTest::qExec(&core, argc, argv);
    return failed + RunScheduleTests(argc, argv) + RunShuffleTests(argc, argv);
}
#include "tst_scheduler.moc"
