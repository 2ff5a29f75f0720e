#pragma once

#include <QByteArrayView>
#include <QString>

#include "scheduler/Scheduler.h"

// Proof of play: every message that was started, one CSV line each, in a file per month
// ("plays-2026-12.csv") in the log folder. Each line is one append to a file opened in append mode
// and is flushed to the disk at once, so a crash or a power cut can lose only the line being
// written.
//
//     time,file,length_seconds,outcome
//     2026-12-06T17:05:00+01:00,"Opening hours.mp3",12.04,played
class PlayLog {
public:
    explicit PlayLog(QString folder) : folder_(std::move(folder)) {}

    QString Folder() const { return folder_; }
    // The file the play is written to: the month of its start.
    QString FileFor(const Scheduler::MessagePlay& play) const;

    // False when the line could not be written whole.
    bool Append(const Scheduler::MessagePlay& play) const;

    static QByteArray Line(const Scheduler::MessagePlay& play);
    // A moment as the log writes it: local time with its offset from UTC.
    static QString Moment(const QDateTime& time);
    // Appends one line to `path` as the log does, and unless told otherwise waits until it is on
    // the disk; `header` first in a new or empty file. False when it could not be written whole.
    static bool AppendLine(const QString& path, QByteArrayView header, QByteArrayView line,
                           bool toDisk = true);
    static QByteArray OutcomeText(Scheduler::Outcome outcome);

private:
    QString folder_;
};
