#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <array>
#include <functional>
#include <optional>
#include <utility>

#include "support/Text.h"

// The shop's day as the settings file plans it: opening hours, closed dates and announcements at
// set times. Everything is in wall-clock time, so it follows the clocks on daylight-saving days.
//
//     [Schedule]
//     Monday=08:00-12:30,14:00-19:00
//     Sunday=closed
//     Closed=2026-12-24..2026-12-26,2027-01-01
//
//     [Timed]
//     19:45=Closing soon.mp3
//     Mon-Fri 12:00=Lunch offer.mp3
//
//     [Dayparts]
//     Mon-Fri 07:00-11:00=Morning
//     2026-12-01..2026-12-24=Christmas
//
//     [Levels]
//     Mon-Sat 07:00=60
//
// The four sections share one reading of their words: days and ranges of days, times, dates.
namespace Schedule {

inline constexpr int kMinutesPerDay = 24 * 60;

// Minutes since midnight; an end at or before its start runs past midnight into the next day.
struct Range {
    int start = 0;
    int end = kMinutesPerDay;
    friend bool operator==(const Range&, const Range&) = default;
};

// Days of the week as bits, Monday the lowest.
using DaySet = unsigned;
inline constexpr DaySet kEveryDay = 0x7f;
// Whether `days` holds the day of the week `day` falls on.
inline bool Holds(DaySet days, const QDate& day) {
    return (days & (1U << (day.dayOfWeek() - 1))) != 0;
}

struct Hours {
    // Monday first. Nothing: open all day; an empty list: closed.
    std::array<std::optional<QList<Range>>, 7> days;
    QList<std::pair<QDate, QDate>> closed;  // both ends included

    bool AlwaysOpen() const;
    bool IsOpen(const QDateTime& at) const;
    // The first time after `at` when it opens; nothing when it never does again within a year.
    std::optional<QDateTime> NextOpening(const QDateTime& at) const;

private:
    bool ClosedDate(QDate date) const;
};

struct Timed {
    DaySet days = kEveryDay;
    int minute = 0;      // of the day
    QString file;        // as written
    QString path;        // where it was found
    QByteArray line;     // the whole line, trimmed: what it is known by across restarts
    int lineNumber = 0;  // in the settings file
    bool RunsOn(const QDate& day) const { return Holds(days, day); }
};

// When a daypart line applies: on some days of the week or on dates, and all day or in a range of
// times. A range past midnight belongs to the day it starts on.
struct When {
    DaySet days = kEveryDay;
    std::optional<std::pair<QDate, QDate>> dates;  // both ends included; the days then do not count
    std::optional<Range> time;                     // nothing: all day
    bool Covers(const QDateTime& at) const;
};

// Which subfolder of the music folder plays when.
struct Daypart {
    When when;
    QString name;  // the subfolder, as written
    int lineNumber = 0;
};

// From its minute on, the music's full level is this.
struct Level {
    DaySet days = kEveryDay;
    int minute = 0;
    int level = 0;  // 0..100
    int lineNumber = 0;
    bool RunsOn(const QDate& day) const { return Holds(days, day); }
};

// A line left out, and why.
struct Fault {
    int lineNumber = 0;
    QByteArray line;
    Language::Text why;
    // The warning that names the line.
    Language::Text Warning() const;
};

struct Plan {
    Hours hours;
    QList<Timed> timed;
    QList<Daypart> dayparts;  // in the order of the file
    QList<Level> levels;      // in the order of the file
    QList<Fault> faults;
};

// The lines of each section, with their line numbers.
using Lines = QList<std::pair<int, QByteArray>>;
struct Sections {
    Lines schedule = {};
    Lines timed = {};
    Lines dayparts = {};
    Lines levels = {};
};

// Where an announcement's file is, from its name as written; empty when there is none.
using Locate = std::function<QString(const QString& file)>;

// A line that cannot be read, or names a file `locate` does not find, is left out with a
// warning; the rest apply.
Plan Parse(const Sections& sections, const Locate& locate);

// The daypart at `at`: of the lines that cover it a dated one beats an undated one, and among
// equals the later line wins. Nothing when none covers it.
const Daypart* DaypartAt(const QList<Daypart>& dayparts, const QDateTime& at);

// The level line in force at `at`: the one whose minute passed last, today or on one of the seven
// days before; of lines at the same minute the later. `since` is when its minute came.
struct LevelInForce {
    const Level* level = nullptr;
    QDateTime since;
};
std::optional<LevelInForce> LevelAt(const QList<Level>& levels, const QDateTime& at);

// "Monday" for 0 … "Sunday" for 6; and the index of a day by its name or first three letters, in
// any case, or -1.
QString DayName(int index);
int DayIndex(const QString& word);

// Checks of single values, for the Schedule window. Each gives what is wrong, or nothing.
std::optional<QString> CheckRanges(const QString& text);   // "08:00-12:30,14:00-19:00", "closed"
std::optional<QString> CheckDates(const QString& text);    // "2026-12-24..2026-12-26,2027-01-01"
std::optional<QString> CheckTimedKey(const QString& key);  // "Mon-Fri 12:00"
// "Mon-Fri 07:00-11:00", "2026-12-24 08:00-14:00", "Sat,Sun", "11:00-14:00"
std::optional<QString> CheckDaypartKey(const QString& key);
std::optional<QString> CheckDaypartName(const QString& name);  // a subfolder's name, no path
std::optional<QString> CheckLevelKey(const QString& key);      // "Mon-Sat 07:00", "19:00"
std::optional<QString> CheckLevel(const QString& value);       // "0" to "100"

// "Closed until Mon 08:00"; the date too when the opening is a week away or more.
QString ClosedText(const QDateTime& now, const std::optional<QDateTime>& opening);

// The wall-clock time of `minute` on `date`. A time the clocks skip on that day is the moment
// they skip it; a time they pass twice is the first pass.
QDateTime At(QDate date, int minute, const QTimeZone& zone);

}  // namespace Schedule
