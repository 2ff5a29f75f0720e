#include "fleet/Fleet.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QUuid>

#include "player/Player.h"
#include "remote/RemoteApi.h"
#include "scheduler/PlayLog.h"
#include "settings/Mod_INI.h"
#include "support/ProgramLocation.h"

Q_DECLARE_LOGGING_CATEGORY(lcMqtt)

namespace {

QString Latin1(const char* text) {
    return QString::fromLatin1(text);
}

QByteArray Compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

struct Key {
    const char* name;
    QString Fleet::Config::*text;
};
constexpr Key kTexts[] = {
    {"MqttHost", &Fleet::Config::host},         {"MqttUser", &Fleet::Config::user},
    {"MqttPassword", &Fleet::Config::password}, {"MqttCaFile", &Fleet::Config::caFile},
    {"MqttTopic", &Fleet::Config::topic},
};
constexpr const char* kPortKey = "MqttPort";
constexpr const char* kTlsKey = "MqttTls";

}  // namespace

Fleet::Config Fleet::ReadConfig() {
    const QString ini = Mod_INI::IniFilePath();
    const QString section = Latin1(kSection);
    Config config;
    for (const Key& key : kTexts) {
        config.*key.text = Mod_INI::GetIniValue(ini, Latin1(key.name), {}, section).trimmed();
    }
    const uint port = Mod_INI::GetIniValue(ini, Latin1(kPortKey), {}, section).toUInt();
    config.port = port > 0 && port <= 65535 ? static_cast<quint16>(port) : kDefaultPort;
    config.tls = Mod_INI::GetIniValue(ini, Latin1(kTlsKey), {}, section).trimmed() == u"1";
    return config;
}

void Fleet::StoreConfig(const Config& config) {
    QList<std::pair<QString, QString>> values;
    for (const Key& key : kTexts) {
        values.append({Latin1(key.name), config.*key.text});
    }
    values.append({Latin1(kPortKey), QString::number(config.port)});
    values.append({Latin1(kTlsKey), config.tls ? QStringLiteral("1") : QStringLiteral("0")});
    Mod_INI::PutIniValues(Mod_INI::IniFilePath(), values, Latin1(kSection));
    KeepPasswordPrivate(config);
}

void Fleet::KeepPasswordPrivate(const Config& config) {
    if (!config.password.isEmpty()) {
        QFile::setPermissions(Mod_INI::IniFilePath(), QFile::ReadOwner | QFile::WriteOwner);
    }
}

QString Fleet::CleanName(const QString& name) {
    QString clean = name;
    for (QChar& c : clean) {
        const char16_t u = c.unicode();
        const bool kept = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') ||
                          (u >= '0' && u <= '9') || u == '_' || u == '-';
        if (!kept) {
            c = u'_';
        }
    }
    return clean.isEmpty() ? QStringLiteral("_") : clean;
}

QString Fleet::Zone() {
    return CleanName(QDir(Program().folder).dirName());
}

QString Fleet::Host() {
    return CleanName(QHostInfo::localHostName());
}

QString Fleet::DefaultTopic() {
    return QStringLiteral("corvane/%1/%2").arg(Host(), Zone());
}

Fleet::Fleet(Player& player, QObject* parent) : QObject(parent), player_(player) {
    stateTimer_.setSingleShot(true);
    stateTimer_.setInterval(kStateEveryMs);
    connect(&stateTimer_, &QTimer::timeout, this, &Fleet::PublishState);
    connect(&client_, &MqttClient::Connected, this, &Fleet::OnConnected);
    connect(&client_, &MqttClient::Published, this, [this](int id) {
        if (const auto it = inFlight_.find(id); it != inFlight_.end()) {
            const QByteArray play = it.value();
            inFlight_.erase(it);
            outbox_->Acknowledge(play);
            SendPlays();
        }
    });
    connect(&client_, &MqttClient::MessageReceived, this, &Fleet::OnMessage);
    connect(&client_, &MqttClient::Refused, this, [this](const QString& reason) {
        player_.SetProblem(
            QStringLiteral("fleet"),
            Language::Text(QT_TRANSLATE_NOOP("Problems", "the broker refuses the login: %1"),
                           {reason}));
    });
    connect(&client_, &MqttClient::Unreachable, this, [this](const QString& reason) {
        player_.SetProblem(
            QStringLiteral("fleet"),
            Language::Text(QT_TRANSLATE_NOOP("Problems", "no connection to the broker: %1"),
                           {reason}));
    });
    player_.OnShownChange(this, [this] { StateSoon(); });
    connect(&player_, &Player::MessageLogged, this, &Fleet::Logged);
}

Fleet::~Fleet() {
    Stop();
}

void Fleet::Start(const Config& config) {
    Stop();
    config_ = config;
    player_.SetProblem(QStringLiteral("fleet"), {});
    if (config.host.isEmpty()) {
        outbox_.reset();
        return;
    }
    topic_ = config.topic.isEmpty() ? DefaultTopic() : config.topic;
    while (topic_.endsWith(u'/')) {
        topic_.chop(1);
    }
    // Beside the play log; whatever an earlier run could not send goes first.
    const QString folder = player_.Log().Folder();
    QDir().mkpath(folder);
    outbox_ = std::make_unique<Outbox>(folder + QStringLiteral("/plays.outbox"));
    inFlight_.clear();
    MqttClient::Settings settings;
    settings.host = config.host;
    settings.port = config.port;
    settings.user = config.user;
    settings.password = config.password;
    settings.tls = config.tls;
    settings.caFile = config.caFile;
    settings.clientId = QStringLiteral("corvane-%1-%2").arg(Host(), Zone());
    settings.willTopic = topic_ + QStringLiteral("/availability");
    settings.willPayload = "offline";
    client_.Start(settings);
}

void Fleet::Stop() {
    stateTimer_.stop();
    if (client_.IsConnected()) {
        // A goodbye sends no last will: the offline is said here.
        client_.Publish(topic_ + QStringLiteral("/availability"), "offline", 1, true);
    }
    client_.Stop();
    lastState_.clear();
}

void Fleet::OnConnected() {
    player_.SetProblem(QStringLiteral("fleet"), {});
    client_.Publish(topic_ + QStringLiteral("/availability"), "online", 1, true);
    for (const QString& base : {topic_, Latin1(kAllTopic)}) {
        client_.Subscribe(base + QStringLiteral("/set"), 1);
        client_.Subscribe(base + QStringLiteral("/command"), 1);
    }
    client_.Subscribe(Latin1(kDiscoveryPrefix) + QStringLiteral("/status"), 1);
    PublishDiscovery();
    lastState_.clear();
    PublishState();
    SendPlays();
}

void Fleet::OnMessage(const QString& topic, const QByteArray& payload, bool retained) {
    if (topic == Latin1(kDiscoveryPrefix) + QStringLiteral("/status")) {
        if (payload.trimmed() == "online") {
            PublishDiscovery();
        }
        return;
    }
    // What was said before this player came up is not obeyed now.
    if (retained) {
        qCDebug(lcMqtt, "fleet: a retained message on %s ignored", qPrintable(topic));
        return;
    }
    if (topic.endsWith(QStringLiteral("/set"))) {
        auto change = RemoteApi::DecodeSettings(payload);
        if (const auto* reason = std::get_if<QString>(&change)) {
            qCWarning(lcMqtt, "fleet: %s ignored: %s", qPrintable(topic), qPrintable(*reason));
            return;
        }
        RemoteApi::Apply(player_, std::get<RemoteApi::SettingsChange>(change));
    } else if (topic.endsWith(QStringLiteral("/command"))) {
        Command(payload);
    }
}

// A word (next, message, pause, resume), or an object such as
// {"command": "message", "file": "Christmas hours.mp3"} for a message of one's choosing.
void Fleet::Command(const QByteArray& payload) {
    QString word = QString::fromUtf8(payload.trimmed());
    QString file;
    if (word.startsWith(u'{')) {
        const QJsonObject object = QJsonDocument::fromJson(payload).object();
        word = object.value(QStringLiteral("command")).toString();
        file = object.value(QStringLiteral("file")).toString();
    }
    if (word == u"next") {
        player_.NextTrack();
    } else if (word == u"message") {
        if (!player_.PlayMessageNow(file)) {
            qCWarning(lcMqtt,
                      "fleet: the message %s is not in the messages folder, or cannot play now",
                      qPrintable(file.isEmpty() ? QStringLiteral("next in turn") : file));
        }
    } else if (word == u"pause") {
        player_.Pause();
    } else if (word == u"resume") {
        player_.Resume();
    } else {
        qCWarning(lcMqtt, "fleet: an unknown command ignored: %s", payload.left(100).constData());
    }
}

QByteArray Fleet::PlayLine(const QByteArray& id, const Scheduler::MessagePlay& play) {
    const QByteArray name = play.path.mid(play.path.lastIndexOf('/') + 1);
    return Compact({
        {QStringLiteral("id"), QString::fromLatin1(id)},
        {QStringLiteral("time"), PlayLog::Moment(play.start)},
        {QStringLiteral("file"), QFile::decodeName(name)},
        {QStringLiteral("length_seconds"), static_cast<double>(play.lengthMs / 10) / 100.0},
        {QStringLiteral("outcome"), QString::fromLatin1(PlayLog::OutcomeText(play.outcome))},
    });
}

void Fleet::Logged(const Scheduler::MessagePlay& play) {
    if (!outbox_) {
        return;
    }
    const QByteArray id = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    if (!outbox_->Add(id, PlayLine(id, play))) {
        qCWarning(lcMqtt, "fleet: cannot write to the outbox %s", qPrintable(outbox_->Path()));
    }
    SendPlays();
}

// In order, a window at a time. What the library already holds it sends again itself after a
// reconnection, so it is not handed over twice. Handed over in order, and leaving the outbox only
// when acknowledged, the plays in flight are always the first of those pending.
void Fleet::SendPlays() {
    if (!outbox_ || !client_.IsConnected()) {
        return;
    }
    const std::deque<Outbox::Entry>& pending = outbox_->Pending();
    for (auto next = pending.begin() + std::min<std::size_t>(inFlight_.size(), pending.size());
         next != pending.end() && inFlight_.size() < kPlaysInFlight; ++next) {
        const int id = client_.Publish(topic_ + QStringLiteral("/plays"), next->line, 1, false);
        if (id < 0) {
            break;
        }
        inFlight_.insert(id, next->id);
    }
}

void Fleet::StateSoon() {
    if (client_.IsConnected() && !stateTimer_.isActive()) {
        stateTimer_.start();
    }
}

QJsonObject Fleet::State() const {
    QJsonObject state = RemoteApi::Status(player_);
    const QJsonValue seconds = state.take(QStringLiteral("nextMessageSeconds"));
    state.insert(QStringLiteral("nextMessageAt"),
                 seconds.isDouble()
                     ? QJsonValue(PlayLog::Moment(QDateTime::currentDateTime().addSecs(
                           static_cast<qint64>(seconds.toDouble()))))
                     : QJsonValue(QJsonValue::Null));
    return state;
}

void Fleet::PublishState() {
    const QByteArray payload = Compact(State());
    if (payload == lastState_) {
        return;
    }
    if (client_.Publish(topic_ + QStringLiteral("/state"), payload, 1, true) >= 0) {
        lastState_ = payload;
    }
}

void Fleet::PublishDiscovery() {
    for (const auto& [topic, payload] : Discovery(topic_)) {
        client_.Publish(topic, Compact(payload), 1, true);
    }
}
