#include <QCoreApplication>
#include <QLocale>
#include <algorithm>
#include <array>

#include "scheduler/Schedule.h"
#include "support/Language.h"

// The schedule against the clock: whether the shop is open, which daypart and level are in force,
// and the wall-clock time of a minute on a day.
namespace Schedule {

namespace {

constexpr std::array<const char*, 7> kDayNames{"Monday", "Tuesday",  "Wednesday", "Thursday",
                                               "Friday", "Saturday", "Sunday"};

bool RangeCovers(const Range& range, int minute, bool fromTheDayBefore) {
    const bool pastMidnight = range.end <= range.start;
    if (fromTheDayBefore) {
        return pastMidnight && minute < range.end;
    }
    return minute >= range.start && (pastMidnight || minute < range.end);
}

// The minute of the day on the wall clock.
int MinuteOf(const QDateTime& at) {
    return at.time().hour() * 60 + at.time().minute();
}

}  // namespace

QString DayName(int index) {
    return QString::fromLatin1(kDayNames[static_cast<std::size_t>(index)]);
}

int DayIndex(const QString& word) {
    for (int i = 0; i < 7; ++i) {
        const QString name = QString::fromLatin1(kDayNames[i]);
        if (word.compare(name, Qt::CaseInsensitive) == 0 ||
            word.compare(name.left(3), Qt::CaseInsensitive) == 0) {
            return i;
        }
    }
    return -1;
}

bool Hours::AlwaysOpen() const {
    return closed.isEmpty() &&
           std::all_of(days.begin(), days.end(), [](const auto& day) { return !day.has_value(); });
}

bool Hours::ClosedDate(QDate date) const {
    return std::any_of(closed.begin(), closed.end(), [date](const std::pair<QDate, QDate>& range) {
        return range.first <= date && date <= range.second;
    });
}

bool Hours::IsOpen(const QDateTime& at) const {
    const QDate date = at.date();
    const int minute = MinuteOf(at);
    // Today's hours, and the part of yesterday's that runs past midnight.
    for (const int back : {0, 1}) {
        const QDate day = date.addDays(-back);
        if (ClosedDate(day)) {
            continue;
        }
        const std::optional<QList<Range>>& ranges = days[day.dayOfWeek() - 1];
        if (!ranges) {
            if (back == 0) {
                return true;
            }
            continue;
        }
        if (std::any_of(ranges->begin(), ranges->end(),
                        [&](const Range& r) { return RangeCovers(r, minute, back == 1); })) {
            return true;
        }
    }
    return false;
}

std::optional<QDateTime> Hours::NextOpening(const QDateTime& at) const {
    // It can only open at a range's start, or at midnight of a day open all day.
    for (int ahead = 0; ahead <= 366; ++ahead) {
        const QDate day = at.date().addDays(ahead);
        QList<int> starts{0};
        if (const std::optional<QList<Range>>& ranges = days[day.dayOfWeek() - 1]) {
            for (const Range& range : *ranges) {
                starts.append(range.start);
            }
        }
        std::sort(starts.begin(), starts.end());
        for (const int start : starts) {
            const QDateTime when = At(day, start, at.timeZone());
            if (when > at && IsOpen(when)) {
                return when;
            }
        }
    }
    return std::nullopt;
}

bool When::Covers(const QDateTime& at) const {
    const int minute = MinuteOf(at);
    // Its day today, or the part of yesterday's range that runs past midnight.
    for (const int back : {0, 1}) {
        const QDate day = at.date().addDays(-back);
        const bool itsDay = dates ? dates->first <= day && day <= dates->second : Holds(days, day);
        if (itsDay && (time ? RangeCovers(*time, minute, back == 1) : back == 0)) {
            return true;
        }
    }
    return false;
}

const Daypart* DaypartAt(const QList<Daypart>& dayparts, const QDateTime& at) {
    const Daypart* found = nullptr;
    for (const Daypart& daypart : dayparts) {
        // A later line takes over from an equal one, but an undated one not from a dated one.
        if (daypart.when.Covers(at) && (!found || daypart.when.dates || !found->when.dates)) {
            found = &daypart;
        }
    }
    return found;
}

std::optional<LevelInForce> LevelAt(const QList<Level>& levels, const QDateTime& at) {
    // Every line has come within a week, on the same weekday a week ago if not since: a line on
    // Mondays only is in force on Monday morning before its minute.
    for (int back = 0; back <= 7; ++back) {
        const QDate day = at.date().addDays(-back);
        const Level* found = nullptr;
        for (const Level& level : levels) {
            if (level.RunsOn(day) && (back > 0 || level.minute <= MinuteOf(at)) &&
                (!found || level.minute >= found->minute)) {
                found = &level;
            }
        }
        if (found) {
            return LevelInForce{found, At(day, found->minute, at.timeZone())};
        }
    }
    return std::nullopt;
}

QString ClosedText(const QDateTime& now, const std::optional<QDateTime>& opening) {
    if (!opening) {
        return QCoreApplication::translate("Schedule", "Closed");
    }
    const bool far = now.date().daysTo(opening->date()) >= 7;
    // English keeps the program's own format; another language its locale's.
    const bool english = Language::IsEnglish();
    const QLocale locale = english ? QLocale::c() : QLocale();
    QString format = english ? QStringLiteral("HH:mm") : locale.timeFormat(QLocale::ShortFormat);
    if (far) {
        format.prepend(
            (english ? QStringLiteral("yyyy-MM-dd") : locale.dateFormat(QLocale::ShortFormat)) +
            u' ');
    }
    return QCoreApplication::translate("Schedule", "Closed until %1")
        .arg(locale.toString(*opening, QStringLiteral("ddd ") + format));
}

QDateTime At(QDate date, int minute, const QTimeZone& zone) {
    const QTime time(minute / 60, minute % 60);
    const qint64 wall = QDateTime(date, time, QTimeZone::utc()).toSecsSinceEpoch();
    const auto wallOf = [&zone](qint64 instant) {
        const QDateTime local = QDateTime::fromSecsSinceEpoch(instant, zone);
        return QDateTime(local.date(), local.time(), QTimeZone::utc()).toSecsSinceEpoch();
    };
    const auto offsetAt = [&zone](qint64 instant) {
        return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(instant, QTimeZone::utc()));
    };
    // The offsets in force half a day either side; at most one change lies between.
    const int before = offsetAt(wall - 12 * 3600);
    const int after = offsetAt(wall + 12 * 3600);
    std::optional<qint64> first;
    for (const int offset : {before, after}) {
        if (wallOf(wall - offset) == wall) {
            first = std::min(first.value_or(wall - offset), wall - offset);
        }
    }
    if (!first) {
        // Skipped: the first instant whose wall clock has passed it is when the clocks jump.
        qint64 low = wall - std::max(before, after);
        qint64 high = wall - std::min(before, after);
        while (high - low > 1) {
            const qint64 middle = low + (high - low) / 2;
            (wallOf(middle) >= wall ? high : low) = middle;
        }
        first = high;
    }
    return QDateTime::fromSecsSinceEpoch(*first, zone);
}

}  // namespace Schedule
