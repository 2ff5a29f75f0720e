#include "scheduler/DayPlanner.h"

#include <QFile>
#include <QLoggingCategory>

#include "support/SafeWrite.h"

namespace {

Q_LOGGING_CATEGORY(lcSchedule, "corvane.schedule", QtWarningMsg)

// Wall-clock time as a number, to compare times of day across daylight-saving changes.
qint64 Wall(QDate date, QTime time) {
    return QDateTime(date, time, QTimeZone::utc()).toSecsSinceEpoch();
}

}  // namespace

DayPlanner::DayPlanner(const Clock& clock, Scheduler& playback, QString stateFile, QObject* parent)
    : QObject(parent), clock_(clock), playback_(playback), stateFile_(std::move(stateFile)) {
    minuteTimer_.setSingleShot(true);
    minuteTimer_.setTimerType(Qt::PreciseTimer);
    connect(&minuteTimer_, &QTimer::timeout, this, &DayPlanner::Check);
    LoadDone();
}

void DayPlanner::SetPlan(Schedule::Plan plan) {
    plan_ = std::move(plan);
    for (const Schedule::Fault& fault : plan_.faults) {
        qCWarning(lcSchedule, "%s", qPrintable(fault.Warning().English()));
    }
    Check();
}

void DayPlanner::Check() {
    const QDateTime now = clock_.Now();
    if (!now.isValid()) {
        return;  // a clock not yet set says nothing about the day
    }
    // Before an opening, so that the music starts from the daypart's folder at the level in force.
    CheckDaypart(now);
    CheckLevel(now);
    const bool open = plan_.hours.IsOpen(now);
    if (!open) {
        playback_.Close(kClosingFade);
    } else if (playback_.Closed()) {
        playback_.Open();
    }
    CheckTimed(now, open);
    const QString text = open ? QString() : Schedule::ClosedText(now, plan_.hours.NextOpening(now));
    if (text != closedText_) {
        closedText_ = text;
        emit ClosedTextChanged(closedText_);
    }
    // Just after the next whole minute, when an opening or a timed message may fall due.
    const QTime time = now.time();
    minuteTimer_.start(60'000 - (time.second() * 1000 + time.msec()) + 5);
}

std::optional<qint64> DayPlanner::SecondsToNextTimed() const {
    const QDateTime now = clock_.Now();
    std::optional<qint64> next;
    // Today's still to come, or the first day ahead that has one; a week covers every day set.
    for (int ahead = 0; ahead < 8 && !(next && *next < 86400); ++ahead) {
        const QDate day = now.date().addDays(ahead);
        for (const Schedule::Timed& timed : plan_.timed) {
            const qint64 in = now.secsTo(Schedule::At(day, timed.minute, now.timeZone()));
            if (timed.RunsOn(day) && in >= 0 && (!next || in < *next)) {
                next = in;
            }
        }
    }
    return next;
}

void DayPlanner::CheckDaypart(const QDateTime& now) {
    const Schedule::Daypart* part = Schedule::DaypartAt(plan_.dayparts, now);
    const QString name = part ? part->name : QString();
    if (daypart_ != name) {
        daypart_ = name;
        emit DaypartChanged(name);
    }
}

// A level set by hand holds until another line's minute comes, or the lines change.
void DayPlanner::CheckLevel(const QDateTime& now) {
    const std::optional<Schedule::LevelInForce> inForce = Schedule::LevelAt(plan_.levels, now);
    if (!inForce) {
        return;
    }
    const std::pair line{inForce->since, inForce->level->level};
    if (level_ != line) {
        const bool fade = level_.has_value();
        level_ = line;
        emit LevelDue(line.second, fade);
    }
}

void DayPlanner::CheckTimed(const QDateTime& now, bool open) {
    bool changed = false;
    const qint64 wallNow = Wall(now.date(), now.time());
    for (const Schedule::Timed& timed : plan_.timed) {
        // Yesterday's as well, for one just before midnight; not for a line never seen before,
        // which has missed nothing yet.
        for (const int back : {1, 0}) {
            const QDate day = now.date().addDays(-back);
            const auto done = done_.find(timed.line);
            if ((back == 1 && done == done_.end()) ||
                (done != done_.end() && day <= done->second) || !timed.RunsOn(day) ||
                wallNow < Wall(day, QTime(timed.minute / 60, timed.minute % 60))) {
                continue;
            }
            done_[timed.line] = day;
            changed = true;
            const QDateTime at = Schedule::At(day, timed.minute, now.timeZone());
            const QByteArray path = QFile::encodeName(timed.path);
            // Paused, nothing plays: the message is missed like one past its time.
            if (!open || at.secsTo(now) > kLatestStartSeconds || !playback_.PlayTimed(path)) {
                emit Missed({at, path, 0, Scheduler::Outcome::Missed});
            }
        }
    }
    if (changed) {
        SaveDone();
    }
}

// One line per timed message: the day last done, a tab, the line.
void DayPlanner::LoadDone() {
    QFile file(stateFile_);
    if (stateFile_.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        return;
    }
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().chopped(1);
        const qsizetype tab = line.indexOf('\t');
        const QDate day = QDate::fromString(QString::fromLatin1(line.left(tab)), Qt::ISODate);
        if (tab > 0 && day.isValid()) {
            done_[line.mid(tab + 1)] = day;
        }
    }
}

void DayPlanner::SaveDone() const {
    if (stateFile_.isEmpty()) {
        return;
    }
    QByteArray out;
    for (const Schedule::Timed& timed : plan_.timed) {
        if (const auto done = done_.find(timed.line); done != done_.end()) {
            out += done->second.toString(Qt::ISODate).toLatin1() + '\t' + timed.line + '\n';
        }
    }
    if (!SafeWrite::ReplaceFile(stateFile_, out)) {
        qCWarning(lcSchedule, "%s could not be written: a restart may play a timed message again",
                  qPrintable(stateFile_));
    }
}
