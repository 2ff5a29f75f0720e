// The playback core against a scripted media service, without widgets; one case plays real files.

#include <QtTest>

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

QString Vol(const QString& alias, int level) {
    return QString("setaudio %1 Volume to %2").arg(alias).arg(level * 10);
}

// Each fade step sets the music level and then shows it, which reads the level back.
QStringList Fade(int from, int to) {
    const QStringList step{Vol("ZEL0", from), kVol};
    return from == to ? step : step + Fade(from < to ? from + 1 : from - 1, to);
}

// What starting a file on a channel sends: the fake reports a length of 750 frames for a file it
// opens, and none (-1) for one it cannot.
QStringList Start(const QString& alias, const QString& path, int level, bool opens = true) {
    return QString(
               "Close %1|open %2 type MPEGVideo Alias %1 parent 0 Style 1073741824|%3|set %1 "
               "time format frames|status %1 length|play %1 from 0 to %4")
        .arg(alias, path, Vol(alias, level), opens ? "750" : "-1")
        .split('|');
}

// clang-format off
struct CycleRow { int interval, high, low; bool musicEnds; QString atLevel98; };  // at 98: "tick", "stop" or "end" (of the music)
struct NextRow { int finishes; QString removed; QStringList unplayable; QStringList next; };
struct ReportRow { bool on; QString ending; QList<Outcome> reported; qint64 lengthMs; };  // ending: how the message stops
struct LineRow { QByteArray path; qint64 lengthMs; Outcome outcome; int offsetSeconds; QByteArray line; };
// clang-format on

// A core on temporary media folders; nothing ticks it but the test.
struct Core {
    QTemporaryDir dir;
    FakeMciInstaller fake;
    MediaList music, messages;
    int interval = 0, high = 100, low = 10, message = 80;
    Scheduler core{{[this] { return interval; }, [this] { return high; }, [this] { return low; },
                    [this] { return message; }},
                   music,
                   messages};
    Core() {
        QDir(dir.path()).mkdir("Music");
        QDir(dir.path()).mkdir("Messages");
        music.SetPattern("*.mp3;*.wav");
        messages.SetPattern("*.mp3;*.wav");
        music.SetPath(dir.filePath("Music"));
        messages.SetPath(dir.filePath("Messages"));
    }
    QString Path(const QString& name) const { return dir.filePath(name); }
    void Add(const QString& name) const { MediaFixtures::MakeFile(Path(name), "x"); }
    QStringList Sent(std::size_t from) const {
        QStringList sent;
        for (std::size_t i = from; i < fake->commands.size(); ++i)
            sent << QString::fromStdString(fake->commands[i]);
        return sent;
    }
    // Runs `action`, then lets notices arrive and any fade run out; returns what was sent.
    QStringList Do(const std::function<void()>& action) {
        const std::size_t before = fake->commands.size();
        action();
        QCoreApplication::processEvents();
        while (core.Fading())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents();
        return Sent(before);
    }
    QStringList Tick(int times = 1) {
        return Do([&] {
            for (int i = 0; i < times; ++i) {
                core.Tick();
                while (core.Fading())
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
        });
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
            if (r.atLevel98 == "tick")
                c->core.Tick();
            else if (r.atLevel98 == "stop")
                c->core.Stop();
            else
                c->fake->Finish("ZEL0");
        };
        const bool fade = r.high > r.low;
        const QStringList down = fade ? Fade(r.high, r.low) : QStringList();
        const QStringList message = Start("ZEL1", c->Path("Messages/notice.mp3"), 80);
        const QStringList tune = Start("ZEL0", c->Path("Music/tune.mp3"), r.high);
        if (r.atLevel98 == "stop") {
            QCOMPARE(c->Tick(), kIdle + down.mid(0, 5));
            QTest::qWait(50);
            QCOMPARE(c->Sent(0).size(), c->fake->commands.size());  // and nothing after
            QCOMPARE(c->Tick(), QStringList());
            return;
        }
        const QStringList restart =
            QStringList{kMode0} + Start("ZEL0", c->Path("Music/tune.mp3"), 98) + down.mid(5);
        QCOMPARE(c->Tick(),
                 kIdle + (r.atLevel98 == "end" ? down.mid(0, 5) + restart : down) + message);
        QCOMPARE(c->Finish(r.musicEnds ? "ZEL0" : "none"),
                 r.musicEnds ? QStringList{kMode0} + tune : QStringList());
        QCOMPARE(c->Tick(), (QStringList{kMode0, kMode1}));
        QCOMPARE(c->core.MessageTicks(), 0);
        const bool low = fade && !r.musicEnds;
        const QStringList up = low ? Fade(r.low, r.high) : QStringList();
        QCOMPARE(c->Finish("ZEL1"), (QStringList{kMode1, kVol} + up));
        QCOMPARE(c->Tick(), kIdle);
        QCOMPARE(c->core.MessageTicks(), 1);
    }

    // Folders are read at every start; an unreadable level fades up fully, a missing message not.
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
    }

    void nextFile_data() {
        QTest::addColumn<NextRow>("r");
        QTest::newRow("wraps to the first") << NextRow{3, "", {}, {"a"}};
        QTest::newRow("last started deleted: first") << NextRow{1, "b", {}, {"a"}};
        QTest::newRow("unplayable file followed at once") << NextRow{0, "", {"b"}, {"b", "c"}};
        QTest::newRow("nothing plays: one pass, then none")
            << NextRow{0, "", {"a", "b", "c", "d"}, {}};
    }
    // After a's start and `finishes` more ends, each followed by a tick, the end of the file
    // playing starts `next`.
    void nextFile() {
        QFETCH(NextRow, r);
        for (const char* name : {"a", "b", "c", "d"})
            c->Add(QString("Music/%1.mp3").arg(name));
        for (const QString& name : r.unplayable)
            c->fake->unplayable.insert((name + ".mp3").toStdString());
        for (int i = 0; i < r.finishes + 1; ++i)
            i == 0 ? c->Tick() : (c->Finish("ZEL0"), c->Tick());
        if (!r.removed.isEmpty())
            QFile::remove(c->Path("Music/" + r.removed + ".mp3"));
        QStringList expected;
        for (const QString& name : r.next) {
            expected +=
                Start("ZEL0", c->Path("Music/" + name + ".mp3"), 100, !r.unplayable.contains(name));
            if (r.unplayable.contains(name))  // logged, with the file's name
                QTest::ignoreMessage(QtWarningMsg,
                                     QRegularExpression("/" + name + ".mp3 cannot be played"));
        }
        const QStringList sent = r.next.isEmpty() ? c->Tick() : c->Finish("ZEL0");
        QCOMPARE(sent.mid(1, expected.size()), expected);
        if (r.next.isEmpty()) {  // a tick makes one more pass through the list, and no more
            QCOMPARE(sent.filter("open ").size(), 4);
            QCOMPARE(c->fake->commands.size(), c->Sent(0).size());
        }
    }

    void messageReports_data() {
        QTest::addColumn<ReportRow>("r");
        // clang-format off
        QTest::newRow("played to its end") << ReportRow{true, "end", {Outcome::Played}, 30000};
        QTest::newRow("end found by a tick") << ReportRow{true, "tick", {Outcome::Played}, 30000};
        QTest::newRow("broke off") << ReportRow{true, "fail", {Outcome::Failed}, 30000};
        QTest::newRow("failed notice found by a tick first") << ReportRow{true, "fail tick", {Outcome::Failed}, 30000};
        QTest::newRow("cannot be opened") << ReportRow{true, "unplayable", {Outcome::Failed}, 0};
        QTest::newRow("ended by shutdown") << ReportRow{true, "stop", {Outcome::CutShort}, 30000};
        QTest::newRow("off: nothing, and no command more") << ReportRow{false, "end", {}, 0};
        // clang-format on
    }
    // Each message started is reported once, when it has stopped, with how it ended.
    void messageReports() {
        QFETCH(ReportRow, r);
        c->Add("Music/tune.mp3");
        c->Add("Messages/notice.mp3");
        c->interval = 1, c->low = 95;
        c->core.SetMessageReports(r.on);
        if (r.ending == "unplayable") {
            c->fake->unplayable.insert("notice.mp3");
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("notice.mp3 cannot be played"));
        }
        QList<Scheduler::MessagePlay> reported;
        connect(&c->core, &Scheduler::MessageFinished,
                [&](const Scheduler::MessagePlay& play) { reported << play; });
        const QDateTime before = QDateTime::currentDateTime();
        c->Tick(2);
        const QDateTime started = QDateTime::currentDateTime();
        if (r.ending == "end") {
            c->Finish("ZEL1");
        } else if (r.ending.startsWith("fail")) {
            c->fake->Fail("ZEL1");
            if (r.ending.endsWith("tick"))
                c->core.Tick();  // before the notice arrives
        } else if (r.ending == "tick") {
            c->fake->devices["ZEL1"].mode = "stopped";
        } else if (r.ending == "stop") {
            c->core.Stop();
        }
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
        if (!r.on)  // the length only for the play command
            QCOMPARE(c->Sent(0).filter(QRegularExpression("ready|ZEL1 length")),
                     QStringList{"status ZEL1 length"});
    }

    void playLogLine_data() {
        QTest::addColumn<LineRow>("r");
        // clang-format off
        QTest::newRow("played") << LineRow{"/m/Opening hours.mp3", 12040, Outcome::Played, 3600, "2026-12-06T17:05:00+01:00,\"Opening hours.mp3\",12.04,played\n"};
        QTest::newRow("quotes doubled") << LineRow{"/m/Say \"hi\", now.mp3", 0, Outcome::CutShort, 0, "2026-12-06T17:05:00+00:00,\"Say \"\"hi\"\", now.mp3\",0.00,cut short\n"};
        QTest::newRow("never a formula") << LineRow{"/m/=1+2.mp3", 500, Outcome::Failed, -9000, "2026-12-06T17:05:00-02:30,\"'=1+2.mp3\",0.50,failed\n"};
        QTest::newRow("name as the folder gave it") << LineRow{"/m/\xc3\xa9t\xc3\xa9.wav", 1000, Outcome::Played, 3600, "2026-12-06T17:05:00+01:00,\"\xc3\xa9t\xc3\xa9.wav\",1.00,played\n"};
        // clang-format on
    }
    void playLogLine() {
        QFETCH(LineRow, r);
        const QDateTime start(QDate(2026, 12, 6), QTime(17, 5), QTimeZone(r.offsetSeconds));
        QCOMPARE(PlayLog::Line({start, r.path, r.lengthMs, r.outcome}), r.line);
    }

    // A file per month, its header written once; lines are appended in order, never rewritten.
    void playLogFiles() {
        const PlayLog log(c->Path("Play Log"));
        const QDateTime december(QDate(2026, 12, 31), QTime(23, 59));
        const QDateTime january = december.addSecs(120);
        for (const QDateTime& start : {december, january, december})
            QVERIFY(log.Append({start, "/m/a.mp3", 1000, Outcome::Played}));
        QFile file(log.FileFor({december, {}, 0, {}}));
        QVERIFY(file.open(QIODevice::ReadOnly) && file.fileName().endsWith("/plays-2026-12.csv"));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 4);  // the header, two plays and the empty rest after the last end
        QCOMPARE(lines[0], "time,file,length_seconds,outcome");
        QCOMPARE(lines[1] + '\n', PlayLog::Line({december, "/m/a.mp3", 1000, Outcome::Played}));
        QCOMPARE(QDir(log.Folder()).entryList(QDir::Files).size(), 2);
        // A folder that cannot be made is reported, not passed over.
        QVERIFY(MediaFixtures::MakeFile(c->Path("taken"), "x"));
        QVERIFY(!PlayLog(c->Path("taken")).Append({december, "/m/a.mp3", 0, Outcome::Played}));
    }

    // Matching files only (case ignored; no folders or hidden files), sorted with case ignored.
    void mediaList() {
        QDir(c->dir.path()).mkdir("Music/m.mp3");
        for (const QString name : {"b.Wav", "a.MP3", "e.txt", "f.mp3.bak", ".h.mp3"})
            c->Add("Music/" + name);
        c->music.Refresh();
        QCOMPARE(c->music.rowCount(), 2);
        QCOMPARE(c->music.data(c->music.index(1), Qt::DisplayRole).toString(), "b.Wav");
        QCOMPARE(c->music.List(0), "a.MP3");
        c->music.SetPath(c->dir.filePath("missing"));
        QCOMPARE(c->music.ListCount(), 0);
    }

    // Real files, and no tick after the first: the end of each short file alone starts the next,
    // one pass through the list at the most. A name that is not UTF-8 reaches the media layer as
    // the bytes it has.
    void endStartsNextFile() {
        auto fake = Platform::Mci::SetService(
            std::make_unique<Platform::Mci::GstDevices>(Platform::Mci::GstDevices::FakeSink()));
        const auto restore = qScopeGuard([&] { Platform::Mci::SetService(std::move(fake)); });
        QVERIFY(MediaFixtures::MakeWav(c->Path("Music/a.wav"), 200));
        QVERIFY(MediaFixtures::MakeWav(c->Path("Music/b.wav"), 200, 880));
        const QByteArray latin1 = QFile::encodeName(c->Path("Music/")) + "b\xe9.wav";
        QVERIFY(::rename(QFile::encodeName(c->Path("Music/b.wav")), latin1) == 0);
        QVERIFY(MediaFixtures::MakeWav(c->Path("Music/c.wav"), 200, 660));
        c->core.Tick();
        QCOMPARE(c->music.FileName(), "a.wav");
        QTRY_VERIFY_WITH_TIMEOUT(
            c->music.FileBytes() == "b\xe9.wav" && Mod_MCI::MciGetMode("ZEL0") == "playing", 5000);
        QTRY_COMPARE_WITH_TIMEOUT(c->music.FileName(), "c.wav", 5000);
        QTRY_COMPARE_WITH_TIMEOUT(Mod_MCI::MciGetMode("ZEL0"), "stopped", 5000);
        QTest::qWait(300);
        QCOMPARE(c->music.FileName(), "c.wav");  // the next tick starts the next pass
    }
};

QTEST_MAIN(SchedulerTest)
#include "tst_scheduler.moc"
