// The schedule's reader on any bytes: the parts between NULs are the lines of [Schedule],
// [Timed], [Dayparts] and [Levels]. Every line is either kept or named by exactly one fault, which
// the Schedule window's checks agree with; what is kept is in range; the hours answer every
// question without looping or contradicting themselves; and the daypart and level found for a
// moment are lines of the list that hold then, with none that should have beaten them.

#include <QByteArray>
#include <QSet>
#include <QTimeZone>
#include <array>
#include <cstdint>
#include <cstdlib>

#include "scheduler/Schedule.h"

namespace {

// Each section numbers its lines from its own start, so a fault tells which section it is from.
constexpr int kSectionSpan = 1 << 24;

Schedule::Lines Lines(const QByteArray& text, int section) {
    Schedule::Lines lines;
    for (const QByteArray& line : text.split('\n')) {
        if (!line.trimmed().isEmpty()) {
            lines.append({section * kSectionSpan + static_cast<int>(lines.size()) + 1, line});
        }
    }
    return lines;
}

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool ValidDays(Schedule::DaySet days) {
    return days != 0 && (days & ~Schedule::kEveryDay) == 0;
}

int MinuteOf(const QDateTime& at) {
    return at.time().hour() * 60 + at.time().minute();
}

// Whether the line's key or its value is wrong, as the Schedule window checks them.
template <typename CheckKey, typename CheckValue>
bool CheckedWrong(const QByteArray& line, CheckKey checkKey, CheckValue checkValue) {
    const QString text = QString::fromUtf8(line);
    const qsizetype equals = text.indexOf(u'=');
    return equals < 0 || checkKey(text.left(equals)) || checkValue(text.mid(equals + 1));
}

void CheckDaypart(const QList<Schedule::Daypart>& dayparts, const QDateTime& at) {
    const Schedule::Daypart* found = Schedule::DaypartAt(dayparts, at);
    const Schedule::Daypart* dated = nullptr;
    for (const Schedule::Daypart& daypart : dayparts) {
        if (daypart.when.Covers(at) && daypart.when.dates) {
            dated = &daypart;
        }
    }
    if (!found) {
        for (const Schedule::Daypart& daypart : dayparts) {
            Require(!daypart.when.Covers(at));
        }
        return;
    }
    Require(found >= dayparts.data() && found < dayparts.data() + dayparts.size());
    Require(found->when.Covers(at));
    Require(!dated || found == dated);
}

void CheckLevel(const QList<Schedule::Level>& levels, const QDateTime& at) {
    const std::optional<Schedule::LevelInForce> found = Schedule::LevelAt(levels, at);
    Require(found.has_value() == !levels.isEmpty());
    if (!found) {
        return;
    }
    const Schedule::Level* level = found->level;
    Require(level >= levels.data() && level < levels.data() + levels.size());
    Require(found->since <= at && found->since.daysTo(at) <= 7);
    const QDate since = found->since.date();
    Require(level->RunsOn(since));
    // No line came after it, by the wall clock, up to `at`; none later in the list at its minute.
    for (const Schedule::Level& other : levels) {
        for (QDate day = since; day <= at.date(); day = day.addDays(1)) {
            const bool after = day > since || other.minute > level->minute ||
                               (other.minute == level->minute && &other > level);
            const bool passed = day < at.date() || other.minute <= MinuteOf(at);
            Require(!(other.RunsOn(day) && after && passed));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<QByteArray> parts = input.split('\0');
    std::array<Schedule::Lines, 4> sections;
    for (int i = 0; i < 4 && i < parts.size(); ++i) {
        sections[i] = Lines(parts[i], i);
    }
    const auto& [schedule, timed, dayparts, levels] = sections;
    const Schedule::Plan plan = Schedule::Parse({schedule, timed, dayparts, levels},
                                                [](const QString& file) { return file; });

    std::array<int, 4> faults{};
    QSet<int> named;
    for (const Schedule::Fault& fault : plan.faults) {
        const int section = fault.lineNumber / kSectionSpan;
        Require(section >= 0 && section < 4 && !named.contains(fault.lineNumber));
        named.insert(fault.lineNumber);
        ++faults[section];
    }
    Require(faults[0] <= schedule.size());
    Require(plan.timed.size() + faults[1] == timed.size());
    Require(plan.dayparts.size() + faults[2] == dayparts.size());
    Require(plan.levels.size() + faults[3] == levels.size());

    for (const auto& day : plan.hours.days) {
        for (const Schedule::Range& range : day.value_or(QList<Schedule::Range>{})) {
            Require(range.start >= 0 && range.start < Schedule::kMinutesPerDay);
            Require(range.end > 0 && range.end <= Schedule::kMinutesPerDay);
            Require(range.start != range.end % Schedule::kMinutesPerDay);
        }
    }
    for (const Schedule::Timed& entry : plan.timed) {
        Require(entry.minute >= 0 && entry.minute < Schedule::kMinutesPerDay);
        Require(ValidDays(entry.days));
    }

    const QTimeZone utc = QTimeZone::utc();
    for (const auto& [number, line] : dayparts) {
        Require(named.contains(number) ==
                CheckedWrong(line, Schedule::CheckDaypartKey, Schedule::CheckDaypartName));
    }
    for (const Schedule::Daypart& daypart : plan.dayparts) {
        const QString& name = daypart.name;
        Require(!name.isEmpty() && name == name.trimmed() && name != u"." && name != u"..");
        Require(!name.contains(u'/') && !name.contains(u'\\'));
        const Schedule::When& when = daypart.when;
        Require(ValidDays(when.days));
        QDate first(2026, 11, 16);  // a Monday
        if (when.dates) {
            Require(when.dates->first.isValid() && when.dates->first <= when.dates->second);
            first = when.dates->first;
        }
        while ((when.days & (1U << (first.dayOfWeek() - 1))) == 0) {
            first = first.addDays(1);
        }
        // Its first and last minute, the last on the next day when the range runs past midnight;
        // not the minutes either side.
        const Schedule::Range range = when.time.value_or(Schedule::Range{});
        Require(range.start >= 0 && range.start < Schedule::kMinutesPerDay);
        Require(range.end > 0 && range.end <= Schedule::kMinutesPerDay);
        Require(!when.time || range.start != range.end % Schedule::kMinutesPerDay);
        const QDate last = first.addDays(range.end <= range.start ? 1 : 0);
        Require(when.Covers(Schedule::At(first, range.start, utc)));
        Require(when.Covers(Schedule::At(last, range.end - 1, utc)));
        if (when.time) {
            Require(range.start == 0 || !when.Covers(Schedule::At(first, range.start - 1, utc)));
            Require(range.end == Schedule::kMinutesPerDay ||
                    !when.Covers(Schedule::At(last, range.end, utc)));
        }
    }
    for (const auto& [number, line] : levels) {
        Require(named.contains(number) ==
                CheckedWrong(line, Schedule::CheckLevelKey, Schedule::CheckLevel));
    }
    for (const Schedule::Level& level : plan.levels) {
        Require(level.level >= 0 && level.level <= 100);
        Require(level.minute >= 0 && level.minute < Schedule::kMinutesPerDay);
        Require(ValidDays(level.days));
    }

    // Nights the clocks skip and pass twice, and either side of a midnight.
    const QTimeZone zone("Europe/Berlin");
    for (const char* moment :
         {"2026-03-29T01:30:00Z", "2026-03-29T00:59:00Z", "2026-10-25T00:30:00Z",
          "2026-10-25T01:30:00Z", "2026-12-24T22:59:00Z", "2026-12-24T23:00:00Z"}) {
        const QDateTime at =
            QDateTime::fromString(QString::fromLatin1(moment), Qt::ISODate).toTimeZone(zone);
        CheckDaypart(plan.dayparts, at);
        CheckLevel(plan.levels, at);
    }

    const QDateTime at(QDate(2026, 3, 28), QTime(23, 30), zone);  // a night the clocks skip
    if (const std::optional<QDateTime> opening = plan.hours.NextOpening(at)) {
        Require(*opening > at && plan.hours.IsOpen(*opening));
        Require(plan.hours.IsOpen(at) || !plan.hours.IsOpen(opening->addSecs(-60)) ||
                opening->addSecs(-60) <= at);
    }
    return 0;
}
