// A settings change as the web remote receives it, from anyone who holds the key: whatever the
// body, it is taken whole or refused with a reason; what is taken lies within every setting's
// range, and reads back the same once written out again.
// Input: the request body.

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdint>
#include <cstdlib>

#include "player/Player.h"
#include "remote/RemoteApi.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

QJsonObject Encode(const RemoteApi::SettingsChange& change) {
    QJsonObject object;
    for (std::size_t i = 0; i < change.values.size(); ++i) {
        if (change.values[i]) {
            object.insert(QLatin1String(Player::kValues[i].key), *change.values[i]);
        }
    }
    const auto put = [&object](const char* key, const auto& value) {
        if (value) {
            object.insert(QLatin1String(key), *value);
        }
    };
    put(Player::kEvenLoudnessKey, change.evenLoudness);
    put(Player::kKeepPlayLogKey, change.keepPlayLog);
    put(Player::kTrimSilenceKey, change.trimSilence);
    put(Player::kCrossfadeKey, change.crossfade);
    put(Player::kEverySongsKey, change.everySongs);
    put(Player::kOutputDeviceKey, change.output);
    return object;
}

bool Same(const RemoteApi::SettingsChange& a, const RemoteApi::SettingsChange& b) {
    return a.values == b.values && a.evenLoudness == b.evenLoudness &&
           a.keepPlayLog == b.keepPlayLog && a.trimSilence == b.trimSilence &&
           a.crossfade == b.crossfade && a.everySongs == b.everySongs && a.output == b.output;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto decoded = RemoteApi::DecodeSettings(body);
    if (const auto* reason = std::get_if<QString>(&decoded)) {
        Check(!reason->isEmpty());
        return 0;
    }
    const auto& change = std::get<RemoteApi::SettingsChange>(decoded);
    for (std::size_t i = 0; i < change.values.size(); ++i) {
        Check(!change.values[i] || (*change.values[i] >= Player::kValues[i].low &&
                                    *change.values[i] <= Player::kValues[i].high));
    }
    Check(!change.crossfade ||
          (*change.crossfade >= 0 && *change.crossfade <= Player::kLongestCrossfade));
    Check(!change.everySongs ||
          (*change.everySongs >= 0 && *change.everySongs <= Player::kMostSongs));
    // Taken whole: every name the body has is one the change holds.
    const QJsonObject given = QJsonDocument::fromJson(body).object();
    const QJsonObject again = Encode(change);
    Check(given.keys() == again.keys());
    const auto reread = RemoteApi::DecodeSettings(QJsonDocument(again).toJson());
    Check(std::holds_alternative<RemoteApi::SettingsChange>(reread) &&
          Same(std::get<RemoteApi::SettingsChange>(reread), change));
    return 0;
}
