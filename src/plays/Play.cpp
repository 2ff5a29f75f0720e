#include "plays/Play.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>
#include <cmath>

namespace {

std::optional<Play> Fail(QString* fault, const char* why) {
    if (fault) {
        *fault = QString::fromLatin1(why);
    }
    return std::nullopt;
}

// A text field that is there, not empty and not longer than `longest`.
bool Text(const QJsonObject& object, const char* key, qsizetype longest, QString* out) {
    const QJsonValue value = object.value(QLatin1String(key));
    *out = value.toString();
    return value.isString() && !out->isEmpty() && out->size() <= longest;
}

// The moment as the player writes it: its local time with the offset from UTC, to the second.
// Its own date is the day the play counts for, wherever the office is.
bool Moment(const QString& text, QDateTime* time, QDate* localDate) {
    static const QRegularExpression shape(QStringLiteral(
        R"(^(\d{4}-\d{2}-\d{2})T\d{2}:\d{2}:\d{2}(\.\d{1,3})?([+-]\d{2}:\d{2}|Z)$)"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch()) {
        return false;
    }
    *time = QDateTime::fromString(text, Qt::ISODateWithMs);
    *localDate = QDate::fromString(match.captured(1), Qt::ISODate);
    return time->isValid() && localDate->isValid();
}

}  // namespace

std::optional<Play> Play::Decode(const QString& topic, const QByteArray& payload, QString* fault) {
    const QStringList levels = topic.split(u'/');
    if (levels.size() < 3 || levels.last() != u"plays" || levels.at(levels.size() - 3).isEmpty() ||
        levels.at(levels.size() - 2).isEmpty()) {
        return Fail(fault, "the topic does not end in <host>/<zone>/plays");
    }
    if (payload.size() > kLargestPayload) {
        return Fail(fault, "the payload is too large");
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return Fail(fault, "the payload is not a JSON object");
    }
    const QJsonObject object = document.object();
    Play play;
    play.host = levels.at(levels.size() - 3);
    play.zone = levels.at(levels.size() - 2);
    QString time;
    if (!Text(object, "id", 128, &play.id)) {
        return Fail(fault, "no id");
    }
    if (!Text(object, "time", 40, &time) || !Moment(time, &play.time, &play.localDate)) {
        return Fail(fault, "no time with its offset from UTC");
    }
    if (!Text(object, "file", 1024, &play.file)) {
        return Fail(fault, "no file");
    }
    const QJsonValue length = object.value(QLatin1String("length_seconds"));
    play.lengthSeconds = length.toDouble(-1);
    // A day is far more than any message; what is longer is not a length.
    if (!length.isDouble() || !std::isfinite(play.lengthSeconds) || play.lengthSeconds < 0 ||
        play.lengthSeconds > 86400) {
        return Fail(fault, "no length in seconds");
    }
    // Any outcome a player names is kept, so one that a newer player sends is not lost.
    if (!Text(object, "outcome", 32, &play.outcome)) {
        return Fail(fault, "no outcome");
    }
    return play;
}
