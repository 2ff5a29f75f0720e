// The schedule's reader on any bytes: lines before the first NUL are [Schedule]'s, the rest
// [Timed]'s. Every line is either kept or named by exactly one fault, a range kept is never
// empty, and the hours it gives answer every question without looping or contradicting
// themselves: the next opening is open, and the minute before it closed.

#include <QByteArray>
#include <QTimeZone>
#include <cstdint>
#include <cstdlib>

#include "scheduler/Schedule.h"

namespace {

QList<std::pair<int, QByteArray>> Lines(const QByteArray& text) {
    QList<std::pair<int, QByteArray>> lines;
    for (const QByteArray& line : text.split('\n')) {
        if (!line.trimmed().isEmpty()) {
            lines.append({static_cast<int>(lines.size()) + 1, line});
        }
    }
    return lines;
}

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype nul = input.indexOf('\0');
    const auto schedule = Lines(input.left(nul < 0 ? input.size() : nul));
    const auto timed = Lines(nul < 0 ? QByteArray() : input.mid(nul + 1));
    const Schedule::Plan plan =
        Schedule::Parse(schedule, timed, [](const QString& file) { return file; });

    int kept = static_cast<int>(plan.timed.size());
    for (const auto& day : plan.hours.days) {
        for (const Schedule::Range& range : day.value_or(QList<Schedule::Range>{})) {
            Require(range.start >= 0 && range.start < Schedule::kMinutesPerDay);
            Require(range.end > 0 && range.end <= Schedule::kMinutesPerDay);
            Require(range.start != range.end % Schedule::kMinutesPerDay);
        }
    }
    for (const Schedule::Timed& entry : plan.timed) {
        Require(entry.minute >= 0 && entry.minute < Schedule::kMinutesPerDay);
        Require(entry.days != 0 && (entry.days & ~Schedule::kEveryDay) == 0);
    }
    Require(kept + plan.faults.size() <= schedule.size() + timed.size());
    Require(plan.faults.size() >= timed.size() - plan.timed.size());

    const QTimeZone zone("Europe/Berlin");
    const QDateTime at(QDate(2026, 3, 28), QTime(23, 30), zone);  // a night the clocks skip
    if (const std::optional<QDateTime> opening = plan.hours.NextOpening(at)) {
        Require(*opening > at && plan.hours.IsOpen(*opening));
        Require(plan.hours.IsOpen(at) || !plan.hours.IsOpen(opening->addSecs(-60)) ||
                opening->addSecs(-60) <= at);
    }
    return 0;
}
