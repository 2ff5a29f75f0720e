#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <map>
#include <optional>

#include "scheduler/Schedule.h"
#include "scheduler/Scheduler.h"

// What time it is. The program asks the wall clock; tests set their own.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime Now() const = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime Now() const override { return QDateTime::currentDateTime(); }
};

// Runs the shop's day on the playback core: closes it outside the opening hours, opens it again
// at opening and starts each timed message at its minute. It tells when the daypart changes and
// when a level line's minute comes, for the player to act on.
//
// Everything is decided from the wall clock at each check: at each whole minute, and at every
// tick besides, since a timer may fire late and a clock may step (a time sync, a resume from
// sleep). A timed message is played or missed once per day, whatever the clock does; which days
// are done is kept in a file, so a restart plays none twice either.
class DayPlanner : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::seconds kClosingFade{2};
    // A timed message found due later than this after its time is missed, not played.
    static constexpr qint64 kLatestStartSeconds = 120;

    DayPlanner(const Clock& clock, Scheduler& playback, QString stateFile,
               QObject* parent = nullptr);

    // Takes effect at once.
    void SetPlan(Schedule::Plan plan);
    const Schedule::Plan& Plan() const { return plan_; }

    void Check();
    // Seconds until the next timed message's minute; none when there is none.
    std::optional<qint64> SecondsToNextTimed() const;
    // "Closed until Mon 08:00" while closed; empty while open.
    QString ClosedText() const { return closedText_; }

signals:
    void ClosedTextChanged(const QString& text);
    // The daypart is another: its name, empty when none applies. Told at the first check too.
    void DaypartChanged(const QString& name);
    // The music's full level is to be `level`: over a fade when a line's minute came while
    // running, at once for the line in force at the first check.
    void LevelDue(int level, bool fade);
    // A timed message that was not played: its time, its file and the outcome Missed.
    void Missed(const Scheduler::MessagePlay& play);

private:
    void CheckTimed(const QDateTime& now, bool open);
    void CheckDaypart(const QDateTime& now);
    void CheckLevel(const QDateTime& now);
    void LoadDone();
    void SaveDone() const;

    const Clock& clock_;
    Scheduler& playback_;
    QString stateFile_;
    Schedule::Plan plan_;
    std::map<QByteArray, QDate> done_;  // by the timed line: the last day it was played or missed
    QString closedText_;
    std::optional<QString> daypart_;
    // The level line last applied: when its minute came, and its level.
    std::optional<std::pair<QDateTime, int>> level_;
    QTimer minuteTimer_;
};
