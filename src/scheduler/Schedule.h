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
    bool RunsOn(const QDate& day) const { return (days & (1U << (day.dayOfWeek() - 1))) != 0; }
};

// A line left out, and why.
struct Fault {
    int lineNumber = 0;
    QByteArray line;
    QString why;
    // The warning that names the line.
    QString Warning() const;
};

struct Plan {
    Hours hours;
    QList<Timed> timed;
    QList<Fault> faults;
};

// Where an announcement's file is, from its name as written; empty when there is none.
using Locate = std::function<QString(const QString& file)>;

// Lines of the two sections, with their line numbers. A line that cannot be read, or names a
// file `locate` does not find, is left out with a warning; the rest apply.
Plan Parse(const QList<std::pair<int, QByteArray>>& scheduleLines,
           const QList<std::pair<int, QByteArray>>& timedLines, const Locate& locate);

// "Monday" for 0 … "Sunday" for 6; and the index of a day by its name or first three letters, in
// any case, or -1.
QString DayName(int index);
int DayIndex(const QString& word);

// Checks of single values, for the Schedule window. Each gives what is wrong, or nothing.
std::optional<QString> CheckRanges(const QString& text);   // "08:00-12:30,14:00-19:00", "closed"
std::optional<QString> CheckDates(const QString& text);    // "2026-12-24..2026-12-26,2027-01-01"
std::optional<QString> CheckTimedKey(const QString& key);  // "Mon-Fri 12:00"

// "Closed until Mon 08:00"; the date too when the opening is a week away or more.
QString ClosedText(const QDateTime& now, const std::optional<QDateTime>& opening);

// The wall-clock time of `minute` on `date`. A time the clocks skip on that day is the moment
// they skip it; a time they pass twice is the first pass.
QDateTime At(QDate date, int minute, const QTimeZone& zone);

}  // namespace Schedule
