#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <variant>

class Player;

// The web remote's rules, apart from the network: what the status says, how a settings change is
// read and applied, and the checks every request passes.
namespace RemoteApi {

// The longest body a request may carry.
inline constexpr qsizetype kMostBodyBytes = 16 * 1024;

// The player as the status request answers it: one flat object.
QJsonObject Status(const Player& player);

// A settings change as a request asks for it; what it leaves out stays as it is.
struct SettingsChange {
    std::array<std::optional<int>, 4> values;  // by Player::Value
    std::optional<bool> evenLoudness;
    std::optional<bool> keepPlayLog;
    std::optional<bool> trimSilence;
    std::optional<int> crossfade;
    std::optional<int> everySongs;
    std::optional<QString> output;
    std::optional<bool> shuffle;  // MusicOrder: "Shuffle" or "Name"
};
// Reads a JSON object of settings-file names and values. Anything it cannot take (not JSON, an
// unknown name, a value of the wrong kind or out of its range) gives the reason instead, and
// nothing of it is to be applied.
std::variant<SettingsChange, QString> DecodeSettings(const QByteArray& body);
// As a slider move or a menu command would.
void Apply(Player& player, const SettingsChange& change);

// The key: 128 random bits as 32 lowercase hexadecimal digits.
QString NewKey();
// Compares in a time that tells nothing of where the two first differ.
bool KeyMatches(const QByteArray& given, const QString& key);
// The key of an "Authorization: Bearer <key>" header; empty for any other.
QByteArray BearerKey(const QByteArray& authorization);

// Whether a request's Host header names this server: the address or a name it is reached by,
// with or without the port. Anything else is a page of another site reaching it through a name
// that now points here.
struct Listening {
    bool lan = false;  // false: this computer only
    quint16 port = 0;
    QStringList names;  // besides the loopback names: the machine's addresses and host names
};
bool HostAllowed(const QByteArray& host, const Listening& listening);
// The machine's own addresses and names, for a server that listens on the local network.
QStringList LocalNames();

// Failed keys per address: after kMostFailures within a minute, that address is refused for a
// minute, whatever it sends.
class FailureLimit {
public:
    static constexpr int kMostFailures = 5;
    static constexpr qint64 kWindowMs = 60'000;

    bool Refused(const QHostAddress& address, qint64 nowMs) const;
    void Failed(const QHostAddress& address, qint64 nowMs);

private:
    struct Record {
        int failures = 0;
        qint64 firstMs = 0;         // the first failure of this window
        qint64 refusedUntilMs = 0;  // 0: not refused
    };
    QHash<QString, Record> records_;
};

}  // namespace RemoteApi
