// The shop's day as the settings plan it: their reading, opening hours, dayparts, levels and times
// across daylight-saving changes, and campaign folders.

#include <QtTest>

#include "MediaFixtures.h"
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

// The wall-clock time in `zone`; with a "Z", the moment in UTC, for a time the clocks pass twice.
QDateTime Local(const char* text, const char* zone = "Europe/Berlin") {
    QDateTime at = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    return at.timeSpec() == Qt::UTC ? at.toTimeZone(QTimeZone(zone))
                                    : QDateTime(at.date(), at.time(), QTimeZone(zone));
}

// Nov 2026: 16 Mon, 20 Fri, 21 Sat, 22 Sun; Dec: 24 Thu, 25 Fri; Jan 2027: 1 Fri, 3 Sun.
const QByteArrayList kDayparts{"Mon-Fri 07:00-11:00=Morning",
                               "2026-12-01..2026-12-24=Christmas",
                               "2026-12-24 08:00-14:00=Christmas Eve",
                               "Sat,Sun=Weekend",
                               "11:00-14:00=Lunch",
                               "Fri 22:00-02:00=Late",
                               "2027-01-01..2027-01-02 22:00-02:00=New Year",
                               "2026-03-29 02:30-04:00=Spring",
                               "2026-10-25 02:00-03:00=Autumn"};
const QByteArrayList kLevels{"Mon 08:00=40", "Mon 08:00=45", "Sun 02:30=10"};

}  // namespace

// clang-format off
struct FaultRow { QByteArray schedule = {}, timed = {}, dayparts = {}, levels = {}; QString why = {}; };
struct DaypartRow { const char* at; QString daypart; };
struct LevelRow { const char* at; int level; const char* since; };
struct HoursRow { const char* at; bool open; QString until; };
// clang-format on

class ScheduleTest : public QObject {
    Q_OBJECT

private slots:
    void faults_data() {
        QTest::addColumn<FaultRow>("r");
        // clang-format off
        QTest::newRow("good lines") << FaultRow{.schedule = "Mon = 8:00 - 9:30 , 22:00-24:00", .timed = "Mon-Fri 12:00=a.mp3", .dayparts = " Mon - Fri 7:00 - 11:00 = Morning music ", .levels = "Mon-Sat 07:00 = 0"};
        QTest::newRow("unknown day") << FaultRow{.schedule = "Funday=08:00-09:00", .why = "Funday is not a day"};
        QTest::newRow("words for a time") << FaultRow{.schedule = "Monday=8 o'clock-9:00", .why = "8 o'clock is not a time"};
        QTest::newRow("hour 25") << FaultRow{.schedule = "Tuesday=25:00-26:00", .why = "25:00 is not a time"};
        QTest::newRow("24:00 starts nothing") << FaultRow{.schedule = "Thu=24:00-02:00", .why = "24:00 is not a time"};
        QTest::newRow("no range") << FaultRow{.schedule = "Wed=08:00", .why = "08:00 is not a range of times"};
        QTest::newRow("no such date") << FaultRow{.schedule = "Closed=2026-13-01", .why = "2026-13-01 is not a date"};
        QTest::newRow("dates backwards") << FaultRow{.schedule = "Closed=2026-12-26..2026-12-24", .why = "the range 2026-12-26..2026-12-24 is empty"};
        QTest::newRow("missing file") << FaultRow{.timed = "12:00=gone.mp3", .why = "there is no file gone.mp3"};
        QTest::newRow("timed stream") << FaultRow{.timed = "12:00=radio.M3U", .why = "a playlist plays only as music"};
        QTest::newRow("timed on no day") << FaultRow{.timed = "Funday 12:00=a.mp3", .why = "Funday is not a day"};
        QTest::newRow("timed without a file") << FaultRow{.timed = "12:00", .why = "it has no \"=\""};
        QTest::newRow("daypart on no day") << FaultRow{.dayparts = "Mon-Funday 07:00-11:00=A", .why = "Funday is not a day"};
        QTest::newRow("daypart's empty range") << FaultRow{.dayparts = "7:00-07:00=A", .why = "the range 7:00-07:00 is empty"};
        QTest::newRow("daypart on two dates") << FaultRow{.dayparts = "2026-12-24,2026-12-31=A", .why = "2026-12-24,2026-12-31 is more than one date or range of dates"};
        QTest::newRow("daypart on no date") << FaultRow{.dayparts = "2026-02-30 08:00-09:00=A", .why = "2026-02-30 is not a date"};
        QTest::newRow("daypart at no time") << FaultRow{.dayparts = "=A", .why = "it names no days, dates or times"};
        QTest::newRow("daypart's folder missing") << FaultRow{.dayparts = "Mon= ", .why = "it names no folder"};
        QTest::newRow("daypart's folder outside") << FaultRow{.dayparts = "Mon=../Private", .why = "../Private is not the name of a folder in the music folder"};
        QTest::newRow("daypart's folder above") << FaultRow{.dayparts = "Mon=..", .why = ".. is not the name of a folder in the music folder"};
        QTest::newRow("daypart's folder a path") << FaultRow{.dayparts = "Mon=Pop\\Rock", .why = "Pop\\Rock is not the name of a folder in the music folder"};
        QTest::newRow("level on a date") << FaultRow{.levels = "2026-12-24 07:00=60", .why = "2026-12-24 is not a range of days"};
        QTest::newRow("level at no time") << FaultRow{.levels = "Mon-Sat=60", .why = "Mon-Sat is not a time"};
        QTest::newRow("level above 100") << FaultRow{.levels = "07:00=101", .why = "101 is not a level from 0 to 100"};
        QTest::newRow("level below 0") << FaultRow{.levels = "07:00=-1", .why = "-1 is not a level from 0 to 100"};
        QTest::newRow("level missing") << FaultRow{.levels = "07:00=", .why = "a level from 0 to 100 is missing"};
        // clang-format on
    }
    // A bad line is left out with one warning naming it; the good line after it still applies. The
    // Schedule window's checks of a key and a value find the same fault.
    void faults() {
        QFETCH(FaultRow, r);
        const auto lines = [](const QByteArray& line, const QByteArray& good) {
            return Numbered(line.isEmpty() ? QByteArrayList{good} : QByteArrayList{line, good});
        };
        const Schedule::Plan plan =
            Schedule::Parse({.schedule = lines(r.schedule, "Sunday=closed"),
                             .timed = lines(r.timed, "13:00=a.mp3"),
                             .dayparts = lines(r.dayparts, "Sat,Sun=Weekend"),
                             .levels = lines(r.levels, "19:00=70")},
                            [](const QString& file) { return file == "a.mp3" ? file : QString(); });
        QCOMPARE(plan.hours.days[6], std::optional(QList<Schedule::Range>{}));
        QCOMPARE(plan.timed.last().minute, 13 * 60);
        QCOMPARE(plan.dayparts.last().name, "Weekend");
        QCOMPARE(plan.levels.last().level, 70);
        const QString checked = QString::fromUtf8(r.dayparts.isEmpty() ? r.levels : r.dayparts);
        if (const qsizetype equals = checked.indexOf(u'='); equals >= 0) {
            const bool daypart = !r.dayparts.isEmpty();
            const auto key = (daypart ? Schedule::CheckDaypartKey : Schedule::CheckLevelKey);
            const auto value = (daypart ? Schedule::CheckDaypartName : Schedule::CheckLevel);
            QCOMPARE(
                key(checked.left(equals)).value_or(value(checked.mid(equals + 1)).value_or("")),
                r.why);
        }
        QCOMPARE(plan.faults.size(), r.why.isEmpty() ? 0 : 1);
        if (r.why.isEmpty()) {  // the row's lines, first in their sections, read through blanks
            QCOMPARE(plan.timed.first().days, Schedule::DaySet{0x1f});
            QCOMPARE(plan.dayparts.first().name, "Morning music");
            QCOMPARE(plan.levels.first().days, Schedule::DaySet{0x3f});
        } else {
            QCOMPARE(plan.faults[0].why.English(), r.why);
            QVERIFY(plan.faults[0].Warning().English().startsWith("settings line 1 \""));
        }
    }

    void dayparts_data() {
        QTest::addColumn<DaypartRow>("r");
        // clang-format off
        QTest::newRow("a weekday range") << DaypartRow{"2026-11-16T07:00:00", "Morning"};
        QTest::newRow("before it") << DaypartRow{"2026-11-16T06:59:59", ""};
        QTest::newRow("its end: a time range alone") << DaypartRow{"2026-11-16T11:00:00", "Lunch"};
        QTest::newRow("the later of equal lines") << DaypartRow{"2026-11-21T12:00:00", "Lunch"};
        QTest::newRow("dates beat later lines") << DaypartRow{"2026-12-12T12:00:00", "Christmas"};
        QTest::newRow("a date's time beats a weekday's") << DaypartRow{"2026-12-24T09:00:00", "Christmas Eve"};
        QTest::newRow("a date's time ends") << DaypartRow{"2026-12-24T14:00:00", "Christmas"};
        QTest::newRow("dates' last day, 23:59") << DaypartRow{"2026-12-24T23:59:00", "Christmas"};
        QTest::newRow("the day after, 00:00") << DaypartRow{"2026-12-25T00:00:00", ""};
        QTest::newRow("past midnight, Friday's") << DaypartRow{"2026-11-21T01:59:00", "Late"};
        QTest::newRow("past midnight, ended") << DaypartRow{"2026-11-21T02:00:00", "Weekend"};
        QTest::newRow("not Friday's own early hours") << DaypartRow{"2026-11-20T01:00:00", ""};
        QTest::newRow("not before the dates' first night") << DaypartRow{"2027-01-01T01:00:00", ""};
        QTest::newRow("past midnight after the last date") << DaypartRow{"2027-01-03T01:00:00", "New Year"};
        QTest::newRow("clocks skip 02:30: from 03:00") << DaypartRow{"2026-03-29T03:00:00", "Spring"};
        QTest::newRow("clocks back: first 02:30") << DaypartRow{"2026-10-25T00:30:00Z", "Autumn"};
        QTest::newRow("clocks back: second 02:30") << DaypartRow{"2026-10-25T01:30:00Z", "Autumn"};
        // clang-format on
    }
    // Of the lines that cover a moment, a dated one wins over an undated one, then the later one.
    void dayparts() {
        QFETCH(DaypartRow, r);
        const Schedule::Plan plan = Schedule::Parse({.dayparts = Numbered(kDayparts)}, {});
        QCOMPARE(plan.dayparts.size(), kDayparts.size());
        const Schedule::Daypart* found = Schedule::DaypartAt(plan.dayparts, Local(r.at));
        QCOMPARE(found ? found->name : QString(), r.daypart);
    }

    void levels_data() {
        QTest::addColumn<LevelRow>("r");
        // clang-format off
        QTest::newRow("same minute: the later line") << LevelRow{"2026-11-16T08:00:00", 45, "2026-11-16T08:00:00"};
        QTest::newRow("the minute before: yesterday's") << LevelRow{"2026-11-16T07:59:59", 10, "2026-11-15T02:30:00"};
        QTest::newRow("six days back") << LevelRow{"2026-11-22T02:29:00", 45, "2026-11-16T08:00:00"};
        QTest::newRow("since the clocks skipped 02:30") << LevelRow{"2026-03-29T03:10:00", 10, "2026-03-29T01:00:00Z"};
        QTest::newRow("since the first of two 02:30s") << LevelRow{"2026-10-25T01:30:00Z", 10, "2026-10-25T00:30:00Z"};
        // clang-format on
    }
    // The line whose minute passed last is in force, since that minute, on the days it runs on. A
    // minute the clocks skip comes as they skip it; one they pass twice, the first time.
    void levels() {
        QFETCH(LevelRow, r);
        const auto levels = Schedule::Parse({.levels = Numbered(kLevels)}, {}).levels;
        const auto found = Schedule::LevelAt(levels, Local(r.at));
        QVERIFY(found);
        QCOMPARE(found->level->level, r.level);
        QCOMPARE(found->since, Local(r.since));
        QVERIFY(!Schedule::LevelAt({}, Local(r.at)));
        // A week back, a line on one day only is still in force before its minute comes again.
        const auto weekly = Schedule::LevelAt(levels.mid(0, 1), Local("2026-11-23T07:00:00"));
        QCOMPARE(weekly ? weekly->since : QDateTime(), Local("2026-11-16T08:00:00"));
    }

    void hours_data() {
        QTest::addColumn<HoursRow>("r");
        // clang-format off
        QTest::newRow("Monday before opening") << HoursRow{"2026-12-07T07:59:59", false, "Closed until Mon 08:00"};
        QTest::newRow("Monday at opening") << HoursRow{"2026-12-07T08:00:00", true, ""};
        QTest::newRow("Monday lunch") << HoursRow{"2026-12-07T12:30:00", false, "Closed until Mon 14:00"};
        QTest::newRow("Monday evening: Tuesday, not named, all day") << HoursRow{"2026-12-07T21:00:00", false, "Closed until Tue 00:00"};
        QTest::newRow("Friday night") << HoursRow{"2026-12-11T23:30:00", true, ""};
        QTest::newRow("past midnight, Friday's") << HoursRow{"2026-12-12T01:59:00", true, ""};
        QTest::newRow("Friday's range ends") << HoursRow{"2026-12-12T02:00:00", false, "Closed until Sat 09:00"};
        QTest::newRow("closed dates, then Sunday") << HoursRow{"2026-12-24T12:00:00", false, "Closed until Mon 08:00"};
        QTest::newRow("a closed Friday's night") << HoursRow{"2027-01-01T23:00:00", false, "Closed until Sat 09:00"};
        // clang-format on
    }
    void hours() {
        QFETCH(HoursRow, r);
        const Schedule::Hours hours = Schedule::Parse({.schedule = Numbered(kWeek)}, {}).hours;
        const QDateTime at = Local(r.at);
        QCOMPARE(hours.IsOpen(at), r.open);
        QCOMPARE(r.open ? QString() : Schedule::ClosedText(at, hours.NextOpening(at)), r.until);
        QVERIFY(Schedule::Parse({}, {}).hours.IsOpen(at));
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
        const QString xmas = "2026-12-01..2026-12-24/xmas.mp3";
        const QByteArray a = QFile::encodeName(dir.filePath("a.mp3"));
        QCOMPARE(list.FilePaths(), (QList{QFile::encodeName(dir.filePath(xmas)), a}));
        QCOMPARE(list.List(0), xmas);
        today = QDate(2026, 12, 25);
        list.Refresh();
        QCOMPARE(list.FilePaths(), QList{a});
    }
};

int RunScheduleTests(int argc, char** argv) {
    ScheduleTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_schedule.moc"
