#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <optional>

// One message's outcome as a player sends it under corvane/<host>/<zone>/plays:
//
//     {"id":"…","time":"2026-12-06T17:05:00+01:00","file":"Opening hours.mp3",
//      "length_seconds":12.04,"outcome":"played"}
struct Play {
    QString id;
    QString host;
    QString zone;
    QDateTime time;   // the instant
    QDate localDate;  // the day on the player's own clock
    QString file;
    double lengthSeconds = 0;
    QString outcome;

    static constexpr qsizetype kLargestPayload = 64 * 1024;

    // The play a message carries, or nullopt with `fault` saying what is wrong with it.
    static std::optional<Play> Decode(const QString& topic, const QByteArray& payload,
                                      QString* fault = nullptr);
};
