#include "mqtt/MqttClient.h"

#include <mosquitto.h>
#include <openssl/ssl.h>

#include <QFile>
#include <QHostInfo>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <sys/ioctl.h>

Q_LOGGING_CATEGORY(lcMqtt, "corvane.mqtt")

namespace {

QByteArray Bytes(const QString& text) {
    return text.toUtf8();
}

// Null for an empty text: libmosquitto takes a null as "none".
const char* OrNull(const QByteArray& text) {
    return text.isEmpty() ? nullptr : text.constData();
}

}  // namespace

MqttClient::MqttClient(QObject* parent) : QObject(parent) {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
    misc_.setInterval(1000);
    connect(&misc_, &QTimer::timeout, this, [this] {
        if (client_ && reader_) {
            AfterCall(mosquitto_loop_misc(client_));
        }
    });
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &MqttClient::Lookup);
}

MqttClient::~MqttClient() {
    Stop();
    if (client_) {
        mosquitto_destroy(client_);
    }
}

void MqttClient::Start(const Settings& settings) {
    Stop();
    settings_ = settings;
    wanted_ = true;
    retryDelayMs_ = kFirstRetryMs;
    outage_.start();
    if (!Configure()) {
        return;
    }
    Lookup();
}

bool MqttClient::Configure() {
    if (client_) {
        mosquitto_destroy(client_);
    }
    // A player takes a clean session at every connection: a session kept while away would have
    // the broker queue every order sent meanwhile and deliver it on return, hours late. What the
    // broker had not yet acknowledged the library sends again itself once it is back.
    client_ = mosquitto_new(Bytes(settings_.clientId).constData(), !settings_.keepSession, this);
    if (!client_) {
        qCWarning(lcMqtt, "%s: the connection cannot be set up", qPrintable(settings_.name));
        wanted_ = false;
        return false;
    }
    // "Threaded": the library only queues packets, and WriteReady alone writes them.
    mosquitto_threaded_set(client_, true);
    mosquitto_connect_callback_set(client_, &MqttClient::OnConnect);
    mosquitto_publish_callback_set(client_, &MqttClient::OnPublish);
    mosquitto_message_callback_set(client_, &MqttClient::OnMessage);
    if (!settings_.user.isEmpty()) {
        mosquitto_username_pw_set(client_, Bytes(settings_.user).constData(),
                                  OrNull(Bytes(settings_.password)));
    }
    if (!settings_.willTopic.isEmpty()) {
        mosquitto_will_set(client_, Bytes(settings_.willTopic).constData(),
                           static_cast<int>(settings_.willPayload.size()),
                           settings_.willPayload.constData(), 1, true);
    }
    if (settings_.tls) {
        int result = MOSQ_ERR_SUCCESS;
        if (settings_.caFile.isEmpty()) {
            result = mosquitto_int_option(client_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            result = mosquitto_tls_set(client_, QFile::encodeName(settings_.caFile).constData(),
                                       nullptr, nullptr, nullptr, nullptr);
        }
        if (result != MOSQ_ERR_SUCCESS) {
            qCWarning(lcMqtt, "%s: TLS cannot be set up: %s", qPrintable(settings_.name),
                      mosquitto_strerror(result));
        }
    }
    return true;
}

// No more attempts: the timers and a lookup under way are stopped. Whether one was wanted.
bool MqttClient::GiveUp() {
    const bool was = wanted_;
    wanted_ = false;
    retry_.stop();
    misc_.stop();
    if (lookupId_ >= 0) {
        QHostInfo::abortHostLookup(lookupId_);
        lookupId_ = -1;
    }
    return was;
}

void MqttClient::Closed() {
    Unwatch();
    if (connected_) {
        connected_ = false;
        emit Disconnected();
    }
}

void MqttClient::Stop() {
    if (GiveUp() && client_ && reader_) {
        // What is queued, the goodbye last; a socket that would block is left as it is.
        mosquitto_disconnect(client_);
        for (int i = 0; i < 100 && mosquitto_want_write(client_) && mosquitto_socket(client_) >= 0;
             ++i) {
            if (mosquitto_loop_write(client_, 1) != MOSQ_ERR_SUCCESS) {
                break;
            }
        }
    }
    Closed();
}

void MqttClient::Drop() {
    GiveUp();
    Unwatch();
    if (client_) {
        mosquitto_destroy(client_);
        client_ = nullptr;
    }
    Closed();
}

void MqttClient::HoldWrites(bool hold) {
    held_ = hold;
    if (!hold && reader_) {
        WriteReady();
    } else if (writer_) {
        writer_->setEnabled(false);
    }
}

// The name is looked up away from the event loop; libmosquitto is then given an address, which
// it connects to without waiting. With TLS it needs the name itself, to check the certificate
// against, and looks it up again: quick, as the system has just answered it.
void MqttClient::Lookup() {
    if (!wanted_ || lookupId_ >= 0) {
        return;
    }
    lookupId_ = QHostInfo::lookupHost(settings_.host, this, [this](const QHostInfo& info) {
        lookupId_ = -1;
        if (!wanted_) {
            return;
        }
        const QList<QHostAddress> addresses = info.addresses();
        if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
            const QString text =
                QStringLiteral("%1 cannot be found: %2").arg(settings_.host, info.errorString());
            Warn(text);
            emit Unreachable(text);
            ScheduleRetry();
            return;
        }
        const auto v4 = std::find_if(addresses.begin(), addresses.end(), [](const QHostAddress& a) {
            return a.protocol() == QAbstractSocket::IPv4Protocol;
        });
        Connect(v4 != addresses.end() ? *v4 : addresses.first());
    });
}

void MqttClient::Connect(const QHostAddress& address) {
    refused_ = false;
    const QByteArray host = settings_.tls ? Bytes(settings_.host) : Bytes(address.toString());
    const int result = mosquitto_connect_bind_async(client_, host.constData(), settings_.port,
                                                    kKeepAliveSeconds, nullptr);
    if (result != MOSQ_ERR_SUCCESS) {
        Lost(result == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(strerror(errno))
                                      : QString::fromUtf8(mosquitto_strerror(result)));
        return;
    }
    Watch();
    misc_.start();
    AfterCall(MOSQ_ERR_SUCCESS);
}

void MqttClient::Watch() {
    Unwatch();
    const int socket = mosquitto_socket(client_);
    if (socket < 0) {
        return;
    }
    // A new socket at every connection: the notifiers are made for this one.
    reader_ = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
    connect(reader_.get(), &QSocketNotifier::activated, this, &MqttClient::ReadReady);
    writer_ = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
    writer_->setEnabled(false);
    connect(writer_.get(), &QSocketNotifier::activated, this, &MqttClient::WriteReady);
}

void MqttClient::Unwatch() {
    // Possibly from within the notifier's own signal: gone once it has returned.
    for (std::unique_ptr<QSocketNotifier>* notifier : {&reader_, &writer_}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->disconnect(this);
            notifier->release()->deleteLater();
        }
    }
}

void MqttClient::ReadReady() {
    int result = mosquitto_loop_read(client_, 1);
    // TLS may hold decrypted bytes that the socket no longer signals.
    for (auto* ssl = static_cast<SSL*>(mosquitto_ssl_get(client_));
         result == MOSQ_ERR_SUCCESS && ssl && SSL_pending(ssl) > 0;
         ssl = static_cast<SSL*>(mosquitto_ssl_get(client_))) {
        result = mosquitto_loop_read(client_, 1);
    }
    AfterCall(result);
    int waiting = 0;
    if (reader_ && ::ioctl(static_cast<int>(reader_->socket()), FIONREAD, &waiting) == 0 &&
        waiting == 0) {
        emit Drained();
    }
}

void MqttClient::WriteReady() {
    if (!held_) {
        AfterCall(mosquitto_loop_write(client_, 1));
    }
}

void MqttClient::EnableWriter() {
    writer_->setEnabled(!held_ && mosquitto_want_write(client_));
}

void MqttClient::AfterCall(int result) {
    if (!reader_) {
        return;
    }
    if (result != MOSQ_ERR_SUCCESS || mosquitto_socket(client_) != reader_->socket()) {
        Lost(result == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(strerror(errno))
                                      : QString::fromUtf8(mosquitto_strerror(result)));
        return;
    }
    EnableWriter();
}

void MqttClient::Lost(const QString& reason) {
    Unwatch();
    misc_.stop();
    if (connected_) {
        connected_ = false;
        outage_.start();
        retryDelayMs_ = kFirstRetryMs;
        Warn(QStringLiteral("the connection to %1 was lost: %2").arg(settings_.host, reason));
        emit Disconnected();
    } else if (wanted_ && !refused_) {
        const QString text =
            QStringLiteral("%1:%2: %3").arg(settings_.host).arg(settings_.port).arg(reason);
        Warn(QStringLiteral("no connection to ") + text);
        emit Unreachable(text);
    }
    ScheduleRetry();
}

// Once for each new trouble: a broker that stays away is not a new line every 2 s.
void MqttClient::Warn(const QString& text) {
    if (text != lastWarning_) {
        lastWarning_ = text;
        qCWarning(lcMqtt, "%s: %s", qPrintable(settings_.name), qPrintable(text));
    }
}

// Every 2 s for the first minute of an outage, as a broker restarting is back within it; then
// twice as long each time, up to a minute, so that a broker gone for good is not pestered.
void MqttClient::ScheduleRetry() {
    if (!wanted_) {
        return;
    }
    retryDelayMs_ = NextRetryMs(outage_.elapsed(), retryDelayMs_);
    retry_.start(retryDelayMs_);
}

int MqttClient::NextRetryMs(qint64 outageMs, int lastMs) {
    return outageMs < kQuickRetriesForMs ? kFirstRetryMs : std::min(lastMs * 2, kLongestRetryMs);
}

int MqttClient::Publish(const QString& topic, const QByteArray& payload, int qos, bool retain) {
    if (!client_ || !connected_) {
        return -1;
    }
    int id = -1;
    const int result =
        mosquitto_publish(client_, &id, Bytes(topic).constData(), static_cast<int>(payload.size()),
                          payload.constData(), qos, retain);
    if (result != MOSQ_ERR_SUCCESS) {
        qCWarning(lcMqtt, "%s: %s cannot be published: %s", qPrintable(settings_.name),
                  qPrintable(topic), mosquitto_strerror(result));
        return -1;
    }
    AfterCall(MOSQ_ERR_SUCCESS);
    return id;
}

bool MqttClient::Subscribe(const QString& topic, int qos) {
    if (!client_ || !connected_) {
        return false;
    }
    const bool ok =
        mosquitto_subscribe(client_, nullptr, Bytes(topic).constData(), qos) == MOSQ_ERR_SUCCESS;
    AfterCall(MOSQ_ERR_SUCCESS);
    return ok;
}

void MqttClient::OnConnect(mosquitto* /*client*/, void* self, int result) {
    auto* me = static_cast<MqttClient*>(self);
    if (result != 0) {
        // The broker closes the connection after saying no; tried again as any other loss.
        const QString reason = QString::fromUtf8(mosquitto_connack_string(result));
        me->refused_ = true;
        me->Warn(QStringLiteral("the broker at %1 refuses the connection: %2")
                     .arg(me->settings_.host, reason));
        emit me->Refused(reason);
        return;
    }
    me->connected_ = true;
    me->lastWarning_.clear();
    qCInfo(lcMqtt, "%s: connected to %s:%d", qPrintable(me->settings_.name),
           qPrintable(me->settings_.host), me->settings_.port);
    emit me->Connected();
}

void MqttClient::OnPublish(mosquitto* /*client*/, void* self, int messageId) {
    emit static_cast<MqttClient*>(self)->Published(messageId);
}

void MqttClient::OnMessage(mosquitto* /*client*/, void* self, const mosquitto_message* message) {
    emit static_cast<MqttClient*>(self)->MessageReceived(
        QString::fromUtf8(message->topic),
        QByteArray(static_cast<const char*>(message->payload), message->payloadlen),
        message->retain);
}
