#include "scheduler/Schedule.h"

#include <QLocale>
#include <QRegularExpression>
#include <algorithm>
#include <variant>

namespace Schedule {

namespace {

constexpr std::array<const char*, 7> kDayNames{"Monday", "Tuesday",  "Wednesday", "Thursday",
                                               "Friday", "Saturday", "Sunday"};
const char* const kDateFormat = "yyyy-MM-dd";

// What is wrong with a value, for the warning that names its line.
struct Wrong {
    QString why;
};

template <typename T>
using Read = std::variant<T, Wrong>;

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

namespace {

// "H:MM" or "HH:MM"; "24:00" only as an end.
std::optional<int> ReadTime(const QString& text, bool end) {
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,2}):(\\d\\d)$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const int hours = match.captured(1).toInt();
    const int minutes = match.captured(2).toInt();
    if (minutes > 59 || hours > 24 || (hours == 24 && (minutes != 0 || !end))) {
        return std::nullopt;
    }
    return hours * 60 + minutes;
}

Wrong NotATime(const QString& text) {
    return {text.isEmpty() ? QStringLiteral("a time is missing")
                           : text + QStringLiteral(" is not a time")};
}

Read<QList<Range>> ReadRanges(const QString& text) {
    if (text.trimmed().compare(u"closed", Qt::CaseInsensitive) == 0) {
        return QList<Range>{};
    }
    QList<Range> ranges;
    for (const QString& item : text.split(u',')) {
        const QStringList ends = item.split(u'-');
        if (ends.size() != 2) {
            return Wrong{item.trimmed() + QStringLiteral(" is not a range of times")};
        }
        const QString from = ends[0].trimmed();
        const QString to = ends[1].trimmed();
        const std::optional<int> start = ReadTime(from, false);
        if (!start) {
            return NotATime(from);
        }
        const std::optional<int> end = ReadTime(to, true);
        if (!end) {
            return NotATime(to);
        }
        if (*start == *end % kMinutesPerDay) {
            return Wrong{QStringLiteral("the range %1-%2 is empty").arg(from, to)};
        }
        ranges.append({*start, *end == 0 ? kMinutesPerDay : *end});  // "-00:00": to midnight
    }
    return ranges;
}

Read<QList<std::pair<QDate, QDate>>> ReadDates(const QString& text) {
    QList<std::pair<QDate, QDate>> dates;
    for (const QString& item : text.split(u',')) {
        const QStringList ends = item.split(QStringLiteral(".."));
        if (ends.size() > 2) {
            return Wrong{item.trimmed() + QStringLiteral(" is not a date")};
        }
        std::array<QDate, 2> read;
        for (int i = 0; i < 2; ++i) {
            const QString word = ends[std::min<qsizetype>(i, ends.size() - 1)].trimmed();
            read[i] = QDate::fromString(word, QString::fromLatin1(kDateFormat));
            if (!read[i].isValid()) {
                return Wrong{(word.isEmpty() ? QStringLiteral("a date") : word) +
                             QStringLiteral(" is not a date")};
            }
        }
        if (read[1] < read[0]) {
            return Wrong{QStringLiteral("the range %1 is empty").arg(item.trimmed())};
        }
        dates.append({read[0], read[1]});
    }
    return dates;
}

// "Mon-Fri", "Sat,Sun", "Fri-Mon" (round the end of the week); blanks ignored.
Read<DaySet> ReadDays(const QString& text) {
    DaySet days = 0;
    for (const QString& item : text.split(u',')) {
        const QStringList ends = item.split(u'-');
        std::array<int, 2> index{-1, -1};
        for (int i = 0; i < 2 && ends.size() <= 2; ++i) {
            const QString word = ends[std::min<qsizetype>(i, ends.size() - 1)].trimmed();
            index[i] = DayIndex(word);
            if (index[i] < 0) {
                return Wrong{(word.isEmpty() ? QStringLiteral("a day") : word) +
                             QStringLiteral(" is not a day")};
            }
        }
        if (index[0] < 0) {
            return Wrong{item.trimmed() + QStringLiteral(" is not a range of days")};
        }
        for (int d = index[0];; d = (d + 1) % 7) {
            days |= 1U << d;
            if (d == index[1]) {
                break;
            }
        }
    }
    return days;
}

// "19:45" or "Mon-Fri 12:00": the time last, the days before it.
Read<std::pair<DaySet, int>> ReadTimedKey(const QString& key) {
    static const QRegularExpression pattern(QStringLiteral("^(.*?)\\s*(\\S+)$"));
    const QRegularExpressionMatch match = pattern.match(key.trimmed());
    const QString time = match.captured(2);
    const std::optional<int> minute = ReadTime(time, false);
    if (!minute) {
        return NotATime(key.trimmed());
    }
    if (match.captured(1).isEmpty()) {
        return std::pair{kEveryDay, *minute};
    }
    const Read<DaySet> days = ReadDays(match.captured(1));
    if (const auto* wrong = std::get_if<Wrong>(&days)) {
        return *wrong;
    }
    return std::pair{std::get<DaySet>(days), *minute};
}

template <typename T>
std::optional<QString> Problem(const Read<T>& read) {
    if (const auto* wrong = std::get_if<Wrong>(&read)) {
        return wrong->why;
    }
    return std::nullopt;
}

bool Covers(const Range& range, int minute, bool fromTheDayBefore) {
    const bool pastMidnight = range.end <= range.start;
    if (fromTheDayBefore) {
        return pastMidnight && minute < range.end;
    }
    return minute >= range.start && (pastMidnight || minute < range.end);
}

}  // namespace

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
    const int minute = at.time().hour() * 60 + at.time().minute();
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
                        [&](const Range& r) { return Covers(r, minute, back == 1); })) {
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

Plan Parse(const QList<std::pair<int, QByteArray>>& scheduleLines,
           const QList<std::pair<int, QByteArray>>& timedLines, const Locate& locate) {
    Plan plan;
    for (const auto& [number, line] : scheduleLines) {
        const qsizetype equals = line.indexOf('=');
        const QString key = QString::fromUtf8(line.left(equals)).trimmed();
        const QString value = QString::fromUtf8(line.mid(equals + 1)).trimmed();
        std::optional<QString> wrong;
        if (equals < 0) {
            wrong = QStringLiteral("it has no \"=\"");
        } else if (key.compare(u"Closed", Qt::CaseInsensitive) == 0) {
            const Read<QList<std::pair<QDate, QDate>>> dates = ReadDates(value);
            wrong = Problem(dates);
            if (!wrong) {
                plan.hours.closed += std::get<0>(dates);
            }
        } else if (const int day = DayIndex(key); day < 0) {
            wrong = key + QStringLiteral(" is not a day");
        } else {
            const Read<QList<Range>> ranges = ReadRanges(value);
            wrong = Problem(ranges);
            if (!wrong) {
                plan.hours.days[day] = std::get<0>(ranges);
            }
        }
        if (wrong) {
            plan.faults.append({number, line.trimmed(), *wrong});
        }
    }
    for (const auto& [number, line] : timedLines) {
        const qsizetype equals = line.indexOf('=');
        const QString file = QString::fromUtf8(line.mid(equals + 1)).trimmed();
        const Read<std::pair<DaySet, int>> key =
            ReadTimedKey(QString::fromUtf8(line.left(std::max<qsizetype>(equals, 0))));
        std::optional<QString> wrong =
            equals < 0 ? std::optional(QStringLiteral("it has no \"=\"")) : Problem(key);
        QString path;
        if (!wrong && file.isEmpty()) {
            wrong = QStringLiteral("it names no file");
        } else if (!wrong) {
            path = locate ? locate(file) : file;
            if (path.isEmpty()) {
                wrong = QStringLiteral("there is no file %1").arg(file);
            }
        }
        if (wrong) {
            plan.faults.append({number, line.trimmed(), *wrong});
            continue;
        }
        const auto [days, minute] = std::get<0>(key);
        plan.timed.append({days, minute, file, path, line.trimmed(), number});
    }
    return plan;
}

std::optional<QString> CheckRanges(const QString& text) {
    return Problem(ReadRanges(text));
}

std::optional<QString> CheckDates(const QString& text) {
    return Problem(ReadDates(text));
}

std::optional<QString> CheckTimedKey(const QString& key) {
    return Problem(ReadTimedKey(key));
}

QString ClosedText(const QDateTime& now, const std::optional<QDateTime>& opening) {
    if (!opening) {
        return QStringLiteral("Closed");
    }
    const QLocale c = QLocale::c();
    const bool far = now.date().daysTo(opening->date()) >= 7;
    return QStringLiteral("Closed until ") +
           c.toString(*opening,
                      far ? QStringLiteral("ddd yyyy-MM-dd HH:mm") : QStringLiteral("ddd HH:mm"));
}

QString Fault::Warning() const {
    return QStringLiteral("settings line %1 \"%2\" is left out: %3")
        .arg(lineNumber)
        .arg(QString::fromUtf8(line), why);
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
