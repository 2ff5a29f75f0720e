// The shop's day: the settings' reading, opening hours, and timed messages on a clock of the
// test's own, across daylight-saving changes and clocks that step.

#include <QtTest>

#include "FakeMci.h"
#include "MediaFixtures.h"
#include "scheduler/DayPlanner.h"
#include "scheduler/MediaList.h"
#include "scheduler/Schedule.h"

namespace {

QList<std::pair<int, QByteArray>> Numbered(const QByteArrayList& lines) {
    QList<std::pair<int, QByteArray>> numbered;
    for (const QByteArray& line : lines)
        numbered.append({static_cast<int>(numbered.size()) + 1, line});
    return numbered;
}

const QByteArrayList kWeek{"Monday=08:00-12:30,14:00-19:00", "Saturday = 09:00 - 14:00",
                           "sun=closed", "FRI=22:00-02:00",
                           "Closed=2026-12-24..2026-12-26, 2027-01-01"};

QDateTime Local(const char* text, const char* zone = "Europe/Berlin") {
    QDateTime at = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    return QDateTime(at.date(), at.time(), QTimeZone(zone));
}

struct TestClock : Clock {
    QDateTime now;
    QDateTime Now() const override { return now; }
};

}  // namespace

// clang-format off
struct FaultRow { QByteArray schedule, timed; QString why; };
struct HoursRow { const char* at; bool open; QString until; };
struct AtRow { const char* zone; const char* day; int minute; const char* utc; };
// The clock runs from `from` to `to` (UTC) in steps of `step` seconds, jumping from `jumpAt` to
// `jumpTo` if given; `played` are the local times the message started.
struct DayRow { const char* zone; QByteArrayList schedule; QByteArray timed; const char* from; const char* to; int step; const char* jumpAt; const char* jumpTo; QStringList played; int missed; };
// clang-format on

class ScheduleTest : public QObject {
    Q_OBJECT

private slots:
    void faults_data() {
        QTest::addColumn<FaultRow>("r");
        // clang-format off
        QTest::newRow("good lines") << FaultRow{"Mon = 8:00 - 9:30 , 22:00-24:00", "Mon-Fri 12:00=a.mp3", ""};
        QTest::newRow("unknown day") << FaultRow{"Funday=08:00-09:00", "", "Funday is not a day"};
        QTest::newRow("words for a time") << FaultRow{"Monday=8 o'clock-9:00", "", "8 o'clock is not a time"};
        QTest::newRow("hour 25") << FaultRow{"Tuesday=25:00-26:00", "", "25:00 is not a time"};
        QTest::newRow("24:00 starts nothing") << FaultRow{"Thu=24:00-02:00", "", "24:00 is not a time"};
        QTest::newRow("empty range") << FaultRow{"Wed=08:00-08:00", "", "the range 08:00-08:00 is empty"};
        QTest::newRow("no range") << FaultRow{"Wed=08:00", "", "08:00 is not a range of times"};
        QTest::newRow("no such date") << FaultRow{"Closed=2026-13-01", "", "2026-13-01 is not a date"};
        QTest::newRow("dates backwards") << FaultRow{"Closed=2026-12-26..2026-12-24", "", "the range 2026-12-26..2026-12-24 is empty"};
        QTest::newRow("missing file") << FaultRow{"", "12:00=gone.mp3", "there is no file gone.mp3"};
        QTest::newRow("timed on no day") << FaultRow{"", "Funday 12:00=a.mp3", "Funday is not a day"};
        QTest::newRow("timed without a file") << FaultRow{"", "12:00", "it has no \"=\""};
        QTest::newRow("timed at no time") << FaultRow{"", "noon=a.mp3", "noon is not a time"};
        // clang-format on
    }
    // A bad line is left out with one warning naming it; the good line after it still applies.
    void faults() {
        QFETCH(FaultRow, r);
        const auto lines = [](const QByteArray& line, const QByteArray& good) {
            return Numbered(line.isEmpty() ? QByteArrayList{good} : QByteArrayList{line, good});
        };
        const Schedule::Plan plan =
            Schedule::Parse(lines(r.schedule, "Sunday=closed"), lines(r.timed, "13:00=a.mp3"),
                            [](const QString& file) { return file == "a.mp3" ? file : QString(); });
        QCOMPARE(plan.hours.days[6], std::optional(QList<Schedule::Range>{}));
        QCOMPARE(plan.timed.last().minute, 13 * 60);
        if (r.why.isEmpty()) {
            QCOMPARE(plan.faults.size(), 0);
            QCOMPARE(plan.timed.size(), 2);
            QCOMPARE(plan.timed.first().days, Schedule::DaySet{0x1f});
            return;
        }
        QCOMPARE(plan.faults.size(), 1);
        QCOMPARE(plan.faults[0].why, r.why);
        QVERIFY(plan.faults[0].Warning().startsWith("settings line 1 \""));
    }

    void hours_data() {
        QTest::addColumn<HoursRow>("r");
        // clang-format off
        QTest::newRow("Monday before opening") << HoursRow{"2026-12-07T07:59:59", false, "Closed until Mon 08:00"};
        QTest::newRow("Monday at opening") << HoursRow{"2026-12-07T08:00:00", true, ""};
        QTest::newRow("Monday lunch") << HoursRow{"2026-12-07T12:30:00", false, "Closed until Mon 14:00"};
        QTest::newRow("Monday evening") << HoursRow{"2026-12-07T21:00:00", false, "Closed until Tue 00:00"};
        QTest::newRow("a day not named: all day") << HoursRow{"2026-12-08T03:00:00", true, ""};
        QTest::newRow("Friday night") << HoursRow{"2026-12-11T23:30:00", true, ""};
        QTest::newRow("past midnight, Friday's") << HoursRow{"2026-12-12T01:59:00", true, ""};
        QTest::newRow("Friday's range ends") << HoursRow{"2026-12-12T02:00:00", false, "Closed until Sat 09:00"};
        QTest::newRow("Sunday closed") << HoursRow{"2026-12-13T12:00:00", false, "Closed until Mon 08:00"};
        QTest::newRow("closed dates, then Sunday") << HoursRow{"2026-12-24T12:00:00", false, "Closed until Mon 08:00"};
        QTest::newRow("a closed Friday's night") << HoursRow{"2027-01-01T23:00:00", false, "Closed until Sat 09:00"};
        // clang-format on
    }
    void hours() {
        QFETCH(HoursRow, r);
        const Schedule::Hours hours = Schedule::Parse(Numbered(kWeek), {}, {}).hours;
        const QDateTime at = Local(r.at);
        QCOMPARE(hours.IsOpen(at), r.open);
        QCOMPARE(r.open ? QString() : Schedule::ClosedText(at, hours.NextOpening(at)), r.until);
        QVERIFY(Schedule::Parse({}, {}, {}).hours.IsOpen(at));
    }

    void at_data() {
        QTest::addColumn<AtRow>("r");
        // clang-format off
        QTest::newRow("Berlin, summer") << AtRow{"Europe/Berlin", "2026-07-01", 12 * 60, "2026-07-01T10:00:00Z"};
        QTest::newRow("Berlin, skipped 02:30: the jump") << AtRow{"Europe/Berlin", "2026-03-29", 150, "2026-03-29T01:00:00Z"};
        QTest::newRow("Berlin, twice 02:30: the first") << AtRow{"Europe/Berlin", "2026-10-25", 150, "2026-10-25T00:30:00Z"};
        QTest::newRow("New York, skipped 02:30") << AtRow{"America/New_York", "2026-03-08", 150, "2026-03-08T07:00:00Z"};
        QTest::newRow("New York, twice 01:30") << AtRow{"America/New_York", "2026-11-01", 90, "2026-11-01T05:30:00Z"};
        // clang-format on
    }
    void at() {
        QFETCH(AtRow, r);
        const QDateTime at =
            Schedule::At(QDate::fromString(r.day, Qt::ISODate), r.minute, QTimeZone(r.zone));
        QCOMPARE(at.toUTC().toString(Qt::ISODate), QString(r.utc));
    }

    void day_data() {
        QTest::addColumn<DayRow>("r");
        // clang-format off
        QTest::newRow("on time") << DayRow{"Europe/Berlin", {}, "13:00=m.mp3", "2026-12-07T11:58:00Z", "2026-12-07T12:03:00Z", 7, nullptr, nullptr, {"13:00"}, 0};
        QTest::newRow("Berlin, clocks forward") << DayRow{"Europe/Berlin", {}, "02:30=m.mp3", "2026-03-29T00:55:00Z", "2026-03-29T01:10:00Z", 7, nullptr, nullptr, {"03:00"}, 0};
        QTest::newRow("Berlin, clocks back") << DayRow{"Europe/Berlin", {}, "02:30=m.mp3", "2026-10-25T00:20:00Z", "2026-10-25T02:10:00Z", 7, nullptr, nullptr, {"02:30"}, 0};
        QTest::newRow("New York, clocks forward") << DayRow{"America/New_York", {}, "02:30=m.mp3", "2026-03-08T06:55:00Z", "2026-03-08T07:10:00Z", 7, nullptr, nullptr, {"03:00"}, 0};
        QTest::newRow("New York, clocks back") << DayRow{"America/New_York", {}, "01:30=m.mp3", "2026-11-01T05:20:00Z", "2026-11-01T07:10:00Z", 7, nullptr, nullptr, {"01:30"}, 0};
        QTest::newRow("clock jumps past it") << DayRow{"Europe/Berlin", {}, "13:00=m.mp3", "2026-12-07T11:59:00Z", "2026-12-07T12:08:00Z", 7, "2026-12-07T11:59:50Z", "2026-12-07T12:05:00Z", {}, 1};
        QTest::newRow("clock steps back over it") << DayRow{"Europe/Berlin", {}, "13:00=m.mp3", "2026-12-07T12:00:30Z", "2026-12-07T12:03:00Z", 7, "2026-12-07T12:00:40Z", "2026-12-07T11:59:00Z", {"13:00"}, 0};
        QTest::newRow("started late, within 2 min") << DayRow{"Europe/Berlin", {}, "13:00=m.mp3", "2026-12-07T12:01:50Z", "2026-12-07T12:03:00Z", 7, nullptr, nullptr, {"13:01"}, 0};
        QTest::newRow("started later") << DayRow{"Europe/Berlin", {}, "13:00=m.mp3", "2026-12-07T12:02:10Z", "2026-12-07T12:03:00Z", 7, nullptr, nullptr, {}, 1};
        QTest::newRow("outside the hours") << DayRow{"Europe/Berlin", {"Monday=08:00-12:00"}, "13:00=m.mp3", "2026-12-07T11:58:00Z", "2026-12-07T12:03:00Z", 7, nullptr, nullptr, {}, 1};
        QTest::newRow("not its day") << DayRow{"Europe/Berlin", {}, "Sat-Sun 13:00=m.mp3", "2026-12-07T11:58:00Z", "2026-12-07T12:03:00Z", 7, nullptr, nullptr, {}, 0};
        QTest::newRow("just before midnight") << DayRow{"Europe/Berlin", {}, "23:59=m.mp3", "2026-12-07T22:58:00Z", "2026-12-07T23:03:00Z", 7, nullptr, nullptr, {"23:59"}, 0};
        // clang-format on
    }
    // Checked every few seconds, as ticks would, each timed message plays once when its minute
    // comes, or is missed once; a second run on the same record (a restart) plays none again.
    void day() {
        QFETCH(DayRow, r);
        QTemporaryDir dir;
        FakeMciInstaller fake;
        MediaList music, messages;
        MediaFixtures::MakeFile(dir.filePath("m.mp3"), "x");
        Scheduler core(
            {[] { return 0; }, [] { return 100; }, [] { return 100; }, [] { return 100; }, {}, {}},
            music, messages);
        Mod_MCI::MciSetNotify(
            [&core](const QString& a, Mod_MCI::MciNotice n) { core.OnNotice(a, n); });
        const auto unwire = qScopeGuard([] { Mod_MCI::MciSetNotify({}); });
        TestClock clock;
        const QTimeZone zone(r.zone);
        QStringList played;
        int missed = 0;
        const auto run = [&] {
            DayPlanner planner(clock, core, dir.filePath("state"));
            connect(&planner, &DayPlanner::Missed, [&] { ++missed; });
            planner.SetPlan(Schedule::Parse(Numbered(r.schedule), Numbered({r.timed}),
                                            [&](const QString& f) { return dir.filePath(f); }));
            clock.now = QDateTime::fromString(r.from, Qt::ISODate).toTimeZone(zone);
            const QDateTime to = QDateTime::fromString(r.to, Qt::ISODate);
            for (bool jumped = false; clock.now < to; clock.now = clock.now.addSecs(r.step)) {
                if (r.jumpAt && !jumped &&
                    clock.now >= QDateTime::fromString(r.jumpAt, Qt::ISODate))
                    clock.now = QDateTime::fromString(r.jumpTo, Qt::ISODate).toTimeZone(zone),
                    jumped = true;
                const std::size_t before = fake->commands.size();
                planner.Check();
                while (core.Fading())
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
                for (std::size_t i = before; i < fake->commands.size(); ++i)
                    if (QString::fromStdString(fake->commands[i]).contains("Alias ZEL1"))
                        played << clock.now.toString("HH:mm"), fake->Finish("ZEL1");
                QCoreApplication::processEvents();
            }
        };
        run();
        QCOMPARE(played, r.played);
        QCOMPARE(missed, r.missed);
        run();
        QCOMPARE(played, r.played);
        QCOMPARE(missed, r.missed);
    }

    // Campaign folders rotate on their dates, both included; timed messages leave the rotation.
    void campaignsAndExclusion() {
        QTemporaryDir dir;
        for (const char* name : {"a.mp3", "Timed.mp3", "2026-12-01..2026-12-24/xmas.mp3",
                                 "2027-01-01..2027-01-31/sale.mp3", "not a campaign/b.mp3"}) {
            QDir().mkpath(QFileInfo(dir.filePath(name)).path());
            MediaFixtures::MakeFile(dir.filePath(name), "x");
        }
        QDate today(2026, 12, 24);
        MediaList list;
        list.SetPattern("*.mp3");
        list.SetPath(dir.path());
        list.SetCampaigns([&] { return today; });
        list.SetExcluded({"Timed.mp3"});
        const auto names = [&] {
            QStringList shown;
            for (int i = 0; i < list.ListCount(); ++i)
                shown << list.List(i);
            return shown;
        };
        QCOMPARE(names(), (QStringList{"2026-12-01..2026-12-24/xmas.mp3", "a.mp3"}));
        QCOMPARE(list.FilePaths().first(),
                 QFile::encodeName(dir.filePath("2026-12-01..2026-12-24/xmas.mp3")));
        today = QDate(2026, 12, 25);
        list.Refresh();
        QCOMPARE(names(), QStringList{"a.mp3"});
    }
};

int RunScheduleTests(int argc, char** argv) {
    ScheduleTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_schedule.moc"
