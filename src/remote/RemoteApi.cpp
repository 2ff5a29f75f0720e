#include "remote/RemoteApi.h"

#include <QFileInfo>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QNetworkInterface>
#include <QRandomGenerator>

#include "player/Player.h"
#include "scheduler/PlayLog.h"

namespace RemoteApi {

namespace {

QString FileName(const QByteArray& path) {
    return path.isEmpty() ? QString() : QFileInfo(QFile::decodeName(path)).fileName();
}

QJsonObject Channel(const Player& player, int channel) {
    QString mode = player.Mode(channel);
    if (player.Closed()) {
        mode = QStringLiteral("closed");
    } else if (player.Paused()) {
        mode = QStringLiteral("paused");
    }
    QJsonObject shown{{QStringLiteral("file"), FileName(player.Playing(channel))},
                      {QStringLiteral("mode"), mode}};
    // A stream's own word for what it plays; a file's title stays in its tags.
    if (channel == Player::kMusic && !player.StreamTitle().isEmpty()) {
        shown.insert(QStringLiteral("title"), player.StreamTitle());
    }
    return shown;
}

const QLatin1String kShuffle("Shuffle");
const QLatin1String kNameOrder("Name");

// A sound server's device names are short; anything longer is no name of one.
constexpr qsizetype kLongestOutputName = 512;

// A whole number in range, or the reason it is not.
std::variant<int, QString> WholeNumber(const QString& key, const QJsonValue& value, int low,
                                       int high) {
    const double number = value.toDouble(-1.0);
    // In range first: a number too large for an integer cannot be converted to test it.
    if (!value.isDouble() || !(number >= low && number <= high) ||
        number != static_cast<double>(static_cast<int>(number))) {
        return QStringLiteral("%1 must be a whole number from %2 to %3")
            .arg(key)
            .arg(low)
            .arg(high);
    }
    return static_cast<int>(number);
}

// Where a whole number named `key` goes in `change`, and its range; none when `key` names no
// whole number.
struct NumberField {
    std::optional<int>* field;
    int low;
    int high;
};
std::optional<NumberField> NumberFieldOf(const QString& key, SettingsChange& change) {
    for (std::size_t i = 0; i < Player::kValues.size(); ++i) {
        if (key == QLatin1String(Player::kValues[i].key)) {
            return NumberField{&change.values[i], Player::kValues[i].low, Player::kValues[i].high};
        }
    }
    if (key == QLatin1String(Player::kCrossfadeKey)) {
        return NumberField{&change.crossfade, 0, Player::kLongestCrossfade};
    }
    if (key == QLatin1String(Player::kEverySongsKey)) {
        return NumberField{&change.everySongs, 0, Player::kMostSongs};
    }
    return std::nullopt;
}

// Where a switch named `key` goes in `change`; null when `key` names no switch.
std::optional<bool>* SwitchFieldOf(const QString& key, SettingsChange& change) {
    if (key == QLatin1String(Player::kEvenLoudnessKey)) {
        return &change.evenLoudness;
    }
    if (key == QLatin1String(Player::kKeepPlayLogKey)) {
        return &change.keepPlayLog;
    }
    if (key == QLatin1String(Player::kTrimSilenceKey)) {
        return &change.trimSilence;
    }
    return nullptr;
}

// Takes one setting into `change`; the reason when it cannot.
std::optional<QString> ReadSetting(const QString& key, const QJsonValue& value,
                                   SettingsChange& change) {
    if (const std::optional<NumberField> number = NumberFieldOf(key, change)) {
        auto whole = WholeNumber(key, value, number->low, number->high);
        if (auto* reason = std::get_if<QString>(&whole)) {
            return *reason;
        }
        *number->field = std::get<int>(whole);
        return std::nullopt;
    }
    if (std::optional<bool>* field = SwitchFieldOf(key, change)) {
        if (!value.isBool()) {
            return key + QStringLiteral(" must be true or false");
        }
        *field = value.toBool();
        return std::nullopt;
    }
    if (key == QLatin1String(Player::kOutputDeviceKey)) {
        if (!value.isString() || value.toString().size() > kLongestOutputName ||
            value.toString().contains(QChar(0))) {
            return key + QStringLiteral(" must be a device name, or \"\" for the desktop's");
        }
        change.output = value.toString();
        return std::nullopt;
    }
    if (key == QLatin1String(Player::kMusicOrderKey)) {
        if (value != QJsonValue(kShuffle) && value != QJsonValue(kNameOrder)) {
            return key + QStringLiteral(" must be \"Shuffle\" or \"Name\"");
        }
        change.shuffle = value == QJsonValue(kShuffle);
        return std::nullopt;
    }
    return QStringLiteral("no such setting: ") + key;
}

}  // namespace

QJsonObject Status(const Player& player) {
    QJsonObject status{
        {QStringLiteral("music"), Channel(player, Player::kMusic)},
        {QStringLiteral("message"), Channel(player, Player::kMessages)},
        {QStringLiteral("paused"), player.Paused()},
        {QStringLiteral("daypart"), player.Daypart()},
    };
    for (std::size_t i = 0; i < Player::kValues.size(); ++i) {
        status.insert(QLatin1String(Player::kValues[i].key),
                      player.Get(static_cast<Player::Value>(i)));
    }
    const std::optional<qint64> next = player.SecondsToNextMessage();
    status.insert(QStringLiteral("nextMessageSeconds"),
                  next ? QJsonValue(*next) : QJsonValue(QJsonValue::Null));
    if (const auto last = player.LastMessage()) {
        status.insert(QStringLiteral("lastMessage"),
                      QJsonObject{{QStringLiteral("file"), FileName(last->path)},
                                  {QStringLiteral("time"), last->start.toString(Qt::ISODate)},
                                  {QStringLiteral("outcome"),
                                   QString::fromLatin1(PlayLog::OutcomeText(last->outcome))}});
    } else {
        status.insert(QStringLiteral("lastMessage"), QJsonValue(QJsonValue::Null));
    }
    status.insert(QStringLiteral("problems"),
                  QJsonArray::fromStringList(player.ProblemsInEnglish()));
    QJsonArray messages;
    const MediaList& list = player.List(Player::kMessages);
    for (int i = 0; i < list.ListCount(); ++i) {
        messages.append(list.List(i));
    }
    status.insert(QStringLiteral("messageFiles"), messages);
    const Player::Options& options = player.Opts();
    status.insert(QLatin1String(Player::kEvenLoudnessKey), options.evenLoudness);
    status.insert(QLatin1String(Player::kKeepPlayLogKey), options.keepPlayLog);
    status.insert(QLatin1String(Player::kTrimSilenceKey), options.trimSilence);
    status.insert(QLatin1String(Player::kCrossfadeKey), options.crossfade);
    status.insert(QLatin1String(Player::kEverySongsKey), options.everySongs);
    status.insert(QLatin1String(Player::kOutputDeviceKey), options.output);
    status.insert(QLatin1String(Player::kMusicOrderKey),
                  options.shuffle ? QString(kShuffle) : QString(kNameOrder));
    return status;
}

std::variant<SettingsChange, QString> DecodeSettings(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        return QStringLiteral("not JSON: ") + error.errorString();
    }
    if (!document.isObject()) {
        return QStringLiteral("a JSON object of settings was expected");
    }
    SettingsChange change;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (std::optional<QString> reason = ReadSetting(it.key(), it.value(), change)) {
            return *std::move(reason);
        }
    }
    return change;
}

void Apply(Player& player, const SettingsChange& change) {
    for (std::size_t i = 0; i < change.values.size(); ++i) {
        if (change.values[i]) {
            player.Set(static_cast<Player::Value>(i), *change.values[i]);
        }
    }
    if (change.evenLoudness) {
        player.SetEvenLoudness(*change.evenLoudness);
    }
    if (change.keepPlayLog) {
        player.SetKeepPlayLog(*change.keepPlayLog);
    }
    if (change.trimSilence) {
        player.SetTrimSilence(*change.trimSilence);
    }
    if (change.crossfade) {
        player.SetCrossfade(*change.crossfade);
    }
    if (change.everySongs) {
        player.SetEverySongs(*change.everySongs);
    }
    if (change.output) {
        player.SetOutput(*change.output);
    }
    if (change.shuffle) {
        player.SetShuffle(*change.shuffle);
    }
}

QString NewKey() {
    QString key;
    for (int i = 0; i < 4; ++i) {
        key += QStringLiteral("%1").arg(QRandomGenerator::system()->generate(), 8, 16, QChar(u'0'));
    }
    return key;
}

bool KeyMatches(const QByteArray& given, const QString& key) {
    const QByteArray expected = key.toLatin1();
    if (expected.isEmpty()) {
        return false;
    }
    // Every byte of the given key is compared, against the expected one or, past its end, itself.
    unsigned difference = static_cast<unsigned>(given.size() ^ expected.size());
    for (qsizetype i = 0; i < given.size(); ++i) {
        const char against = i < expected.size() ? expected[i] : static_cast<char>(~given[i]);
        difference |= static_cast<unsigned char>(given[i] ^ against);
    }
    return difference == 0;
}

QByteArray BearerKey(const QByteArray& authorization) {
    const QByteArray value = authorization.trimmed();
    constexpr QByteArrayView kScheme = "bearer ";
    if (value.size() <= kScheme.size() ||
        value.first(kScheme.size()).toLower() != kScheme.toByteArray()) {
        return {};
    }
    return value.mid(kScheme.size()).trimmed();
}

bool HostAllowed(const QByteArray& host, const Listening& listening) {
    QString name = QString::fromLatin1(host).trimmed().toLower();
    // The port, when given, is this server's.
    const qsizetype colon = name.lastIndexOf(u':');
    if (colon >= 0 && colon > name.lastIndexOf(u']')) {
        bool number = false;
        const uint port = name.mid(colon + 1).toUInt(&number);
        if (!number || port != listening.port) {
            return false;
        }
        name.truncate(colon);
    }
    if (name.isEmpty()) {
        return false;
    }
    if (name == u"localhost" || name == u"127.0.0.1" || name == u"[::1]") {
        return true;
    }
    if (!listening.lan) {
        return false;
    }
    for (const QString& allowed : listening.names) {
        if (name == allowed.toLower()) {
            return true;
        }
    }
    return false;
}

QStringList LocalNames() {
    QStringList names;
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv6Protocol) {
            QHostAddress bare = address;
            bare.setScopeId({});
            names << u'[' + bare.toString() + u']';
        } else {
            names << address.toString();
        }
    }
    const QString host = QHostInfo::localHostName();
    if (!host.isEmpty()) {
        names << host << host + QStringLiteral(".local");
        if (const QString domain = QHostInfo::localDomainName(); !domain.isEmpty()) {
            names << host + u'.' + domain;
        }
    }
    return names;
}

bool FailureLimit::Refused(const QHostAddress& address, qint64 nowMs) const {
    const auto it = records_.constFind(address.toString());
    return it != records_.cend() && nowMs < it->refusedUntilMs;
}

void FailureLimit::Failed(const QHostAddress& address, qint64 nowMs) {
    // Records of addresses long quiet are dropped, so that many addresses cannot fill memory.
    if (records_.size() > 4096) {
        records_.removeIf([nowMs](const auto& entry) {
            return nowMs - entry.value().firstMs > kWindowMs &&
                   nowMs >= entry.value().refusedUntilMs;
        });
    }
    Record& record = records_[address.toString()];
    if (nowMs - record.firstMs > kWindowMs) {
        record.failures = 0;
        record.firstMs = nowMs;
    }
    if (++record.failures >= kMostFailures) {
        record.refusedUntilMs = nowMs + kWindowMs;
        record.failures = 0;
        record.firstMs = nowMs;
    }
}

}  // namespace RemoteApi
