#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class QSocketNotifier;
struct mosquitto;
struct mosquitto_message;

// One connection to an MQTT broker, kept up for as long as it is wanted, on this thread's event
// loop: libmosquitto does the protocol, its socket is watched here, and nothing of it runs on a
// thread of its own. The name is looked up without blocking; a lost connection is tried again
// every 2 s for the first minute, then less and less often, up to once a minute.
//
// The library queues what it sends and only this class writes it to the socket, so a receiver can
// hold back the acknowledgements of messages it has not yet stored (HoldWrites).
class MqttClient : public QObject {
    Q_OBJECT

public:
    struct Settings {
        QString host;
        quint16 port = 1883;
        QString user;
        QString password;
        bool tls = false;
        QString caFile;  // empty: the system's certificate authorities
        QString clientId;
        // Off: a clean session. On: the broker keeps the subscriptions and queues what arrives
        // for them while this client is away, to deliver on its return.
        bool keepSession = false;
        // How the warnings name this connection.
        QString name = QStringLiteral("fleet");
        // Published by the broker for us when the connection is lost without a goodbye.
        QString willTopic;
        QByteArray willPayload;
    };

    static constexpr int kFirstRetryMs = 2000;
    static constexpr int kQuickRetriesForMs = 60'000;
    static constexpr int kLongestRetryMs = 60'000;
    static constexpr int kKeepAliveSeconds = 30;

    explicit MqttClient(QObject* parent = nullptr);
    ~MqttClient() override;

    // Connects, and keeps connecting; Connected() says when it is up.
    void Start(const Settings& settings);
    // A goodbye: what is queued is written out first, as far as the socket takes it at once.
    void Stop();
    // Closes the connection at once and writes nothing more: whatever was received and not yet
    // acknowledged the broker delivers again. Start() connects again.
    void Drop();
    bool IsConnected() const { return connected_; }
    // While held, nothing is written to the broker, acknowledgements included; released, what
    // was queued meanwhile goes out at once.
    void HoldWrites(bool hold);

    // The message id, or -1 when it could not be queued. QoS 1 messages are kept by libmosquitto
    // until the broker acknowledges them, across reconnections: Published() says when.
    int Publish(const QString& topic, const QByteArray& payload, int qos, bool retain);
    bool Subscribe(const QString& topic, int qos);
    // The wait before the next attempt, `outageMs` into an outage, after waiting `lastMs`.
    static int NextRetryMs(qint64 outageMs, int lastMs);

signals:
    void Connected();
    void Disconnected();
    // The broker refused the connection; `reason` in its words. Tried again all the same.
    void Refused(const QString& reason);
    // No broker answered at the address; tried again.
    void Unreachable(const QString& reason);
    void Published(int messageId);
    void MessageReceived(const QString& topic, const QByteArray& payload, bool retained);
    // Everything the socket had has been read: the broker waits, or has nothing more to send.
    void Drained();

private:
    static void OnConnect(mosquitto* client, void* self, int result);
    static void OnPublish(mosquitto* client, void* self, int messageId);
    static void OnMessage(mosquitto* client, void* self, const mosquitto_message* message);

    bool Configure();
    bool GiveUp();
    void Closed();
    void Lookup();
    void Connect(const QHostAddress& address);
    void Lost(const QString& reason);
    void ScheduleRetry();
    void Watch();
    void Unwatch();
    void ReadReady();
    void WriteReady();
    // After every call into the library: whether the socket is still ours, and to be written.
    void AfterCall(int result);
    void Warn(const QString& text);
    void EnableWriter();

    Settings settings_;
    mosquitto* client_ = nullptr;
    bool wanted_ = false;
    bool connected_ = false;
    bool refused_ = false;  // this attempt was turned down, not unanswered
    bool held_ = false;
    QString lastWarning_;
    int lookupId_ = -1;
    std::unique_ptr<QSocketNotifier> reader_;
    std::unique_ptr<QSocketNotifier> writer_;
    QTimer misc_;  // keep-alive and resends, once a second
    QTimer retry_;
    QElapsedTimer outage_;  // since the connection was last up, or first tried
    int retryDelayMs_ = kFirstRetryMs;
};
