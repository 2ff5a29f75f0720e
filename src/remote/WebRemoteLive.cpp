// The live status: a WebSocket from the remote's own page, told the status on every change once
// its first message has given the key.

#include "remote/WebRemote.h"

#include <QHttpServerRequest>
#include <QJsonDocument>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>

#include "player/Player.h"

namespace {

using Status = QHttpServerResponder::StatusCode;

constexpr const char* kLivePath = "/api/v1/live";
// A live connection that has not given the key by then is closed.
constexpr int kAdmitMilliseconds = 5000;

QString StatusText(const Player& player) {
    return QString::fromUtf8(
        QJsonDocument(RemoteApi::Status(player)).toJson(QJsonDocument::Compact));
}

}  // namespace

// The checks of a request to go live, in the order of the others; the key comes later, as the
// first message, since a browser cannot give a live connection a header. Empty when it may.
std::optional<WebRemote::Refusal> WebRemote::LiveRefusal(const QByteArray& host,
                                                         const QString& origin, const QString& path,
                                                         const QHostAddress& peer) const {
    if (std::optional<Refusal> refusal = AddressRefusal(host, peer)) {
        return refusal;
    }
    if (path != QLatin1String(kLivePath)) {
        return Refusal{Status::NotFound, QStringLiteral("no such path")};
    }
    // Only this server's own page may go live: another site's script could reach it too.
    if (origin.compare(QStringLiteral("http://") + QString::fromLatin1(host),
                       Qt::CaseInsensitive) != 0) {
        return Refusal{Status::Forbidden, QStringLiteral("only the remote's own page may go live")};
    }
    return std::nullopt;
}

// Asked again here: on some versions of the server the upgrade never comes to the handler.
void WebRemote::TakeLive(std::unique_ptr<QWebSocket> socket) {
    if (LiveRefusal(socket->request().rawHeader("Host"), socket->origin(),
                    socket->requestUrl().path(), socket->peerAddress())) {
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
        socket.release()->deleteLater();
        return;
    }
    QWebSocket* raw = socket.get();
    connect(raw, &QWebSocket::textMessageReceived, this,
            [this, raw](const QString& message) { Admit(raw, message); });
    connect(raw, &QWebSocket::binaryMessageReceived, this, [this, raw] { Drop(raw); });
    connect(raw, &QWebSocket::disconnected, this, [this, raw] { Drop(raw); });
    QTimer::singleShot(kAdmitMilliseconds, raw, [this, raw] {
        const auto it = std::find_if(live_.begin(), live_.end(),
                                     [raw](const Live& l) { return l.socket.get() == raw; });
        if (it != live_.end() && !it->admitted) {
            Drop(raw);
        }
    });
    live_.push_back({std::move(socket), false});
}

void WebRemote::Admit(QWebSocket* socket, const QString& message) {
    const auto it = std::find_if(live_.begin(), live_.end(),
                                 [socket](const Live& l) { return l.socket.get() == socket; });
    if (it == live_.end() || it->admitted) {
        return;  // once admitted, the page only listens
    }
    if (!RemoteApi::KeyMatches(message.toLatin1(), config_.key)) {
        failures_.Failed(socket->peerAddress(), NowMs());
        return Drop(socket);
    }
    it->admitted = true;
    socket->sendTextMessage(StatusText(player_));
    pushTimer_.start();
}

void WebRemote::Drop(QWebSocket* socket) {
    const auto it = std::find_if(live_.begin(), live_.end(),
                                 [socket](const Live& l) { return l.socket.get() == socket; });
    if (it == live_.end()) {
        return;
    }
    // Not deleted here: this may be the socket's own signal.
    QWebSocket* raw = it->socket.release();
    live_.erase(it);
    raw->disconnect(this);
    raw->close(QWebSocketProtocol::CloseCodePolicyViolated);
    raw->deleteLater();
    if (std::none_of(live_.begin(), live_.end(), [](const Live& l) { return l.admitted; })) {
        pushTimer_.stop();
    }
}

void WebRemote::PushStatus() {
    const QString text = StatusText(player_);
    for (const Live& live : live_) {
        if (live.admitted) {
            live.socket->sendTextMessage(text);
        }
    }
}
