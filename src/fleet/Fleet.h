#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <utility>

#include "fleet/Outbox.h"
#include "mqtt/MqttClient.h"
#include "scheduler/Scheduler.h"

class Player;

// The player as one of a chain of shops, over an MQTT broker: its state and every message's
// outcome published under its topic, steered through the topic's `set` and `command` and the
// whole fleet's, and shown to Home Assistant by discovery. Plays wait in an outbox on the disk
// until the broker has them.
class Fleet : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kSection = "Remote";
    static constexpr quint16 kDefaultPort = 1883;
    // Every player listens here too, for what the office says to all shops at once.
    static constexpr const char* kAllTopic = "corvane/all";
    static constexpr const char* kDiscoveryPrefix = "homeassistant";
    // State is published at most this often.
    static constexpr int kStateEveryMs = 200;
    // Plays handed to the library at a time; the rest wait in the outbox, in order.
    static constexpr int kPlaysInFlight = 100;

    struct Config {
        QString host;  // empty: off
        quint16 port = kDefaultPort;
        QString user;
        QString password;
        bool tls = false;
        QString caFile;
        QString topic;  // empty: DefaultTopic()
        bool operator==(const Config&) const = default;
    };
    static Config ReadConfig();
    // The settings file is then readable by its owner only, when it holds a password.
    static void StoreConfig(const Config& config);
    static void KeepPasswordPrivate(const Config& config);

    // Letters, digits, '_' and '-' only; anything else becomes '_'.
    static QString CleanName(const QString& name);
    // This computer's name and the zone's, the program folder's, cleaned.
    static QString Host();
    static QString Zone();
    // corvane/<host name>/<zone>.
    static QString DefaultTopic();
    // The discovery messages for Home Assistant: their topics and retained payloads.
    static QList<std::pair<QString, QJsonObject>> Discovery(const QString& topic);

    explicit Fleet(Player& player, QObject* parent = nullptr);
    ~Fleet() override;

    // Connects as `config` says; an empty host turns it off, and nothing is queued then.
    void Start(const Config& config);
    // "offline", and a goodbye to the broker.
    void Stop();
    const Config& Current() const { return config_; }
    QString Topic() const { return topic_; }
    bool IsConnected() const { return client_.IsConnected(); }
    // Null while off.
    const Outbox* Box() const { return outbox_.get(); }

    // The player's state as published: the web remote's status, with the time of the next
    // message in place of the countdown to it.
    QJsonObject State() const;
    static QByteArray PlayLine(const QByteArray& id, const Scheduler::MessagePlay& play);

private:
    void OnConnected();
    void OnMessage(const QString& topic, const QByteArray& payload, bool retained);
    void Command(const QByteArray& payload);
    void Logged(const Scheduler::MessagePlay& play);
    void SendPlays();
    void StateSoon();
    void PublishState();
    void PublishDiscovery();

    Player& player_;
    Config config_;
    QString topic_;
    MqttClient client_;
    std::unique_ptr<Outbox> outbox_;
    QHash<int, QByteArray> inFlight_;  // message id: play id
    QByteArray lastState_;
    QTimer stateTimer_;
};
