// A message as the collector takes it from the broker: its topic on the first line, the payload
// after it. A play decoded has every field within its bounds, its day is its time's own, and
// written out again it decodes to the same play.

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "plays/Play.h"

namespace {

QByteArray Encode(const Play& play) {
    return QJsonDocument(QJsonObject{{"id", play.id},
                                     {"time", play.time.toString(Qt::ISODateWithMs)},
                                     {"file", play.file},
                                     {"length_seconds", play.lengthSeconds},
                                     {"outcome", play.outcome}})
        .toJson(QJsonDocument::Compact);
}

bool Sound(const Play& play) {
    return !play.id.isEmpty() && play.id.size() <= 128 && !play.host.isEmpty() &&
           !play.zone.isEmpty() && !play.host.contains(u'/') && !play.zone.contains(u'/') &&
           play.time.isValid() && play.time.date() == play.localDate && !play.file.isEmpty() &&
           std::isfinite(play.lengthSeconds) && play.lengthSeconds >= 0 &&
           play.lengthSeconds <= 86400 && !play.outcome.isEmpty() && play.outcome.size() <= 32;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype newline = input.indexOf('\n');
    const QString topic = QString::fromUtf8(input.left(newline < 0 ? 0 : newline));
    const auto play = Play::Decode(topic, input.mid(newline + 1));
    if (!play) {
        return 0;
    }
    const auto again = Play::Decode(topic, Encode(*play));
    if (!Sound(*play) || !again || again->id != play->id || again->time != play->time ||
        again->localDate != play->localDate || again->file != play->file ||
        again->lengthSeconds != play->lengthSeconds || again->outcome != play->outcome) {
        std::abort();
    }
    return 0;
}
