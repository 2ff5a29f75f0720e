#include "remote/WebRemote.h"

#include <QAbstractHttpServer>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <algorithm>

#include "player/Player.h"
#include "settings/Mod_INI.h"

Q_LOGGING_CATEGORY(lcRemote, "corvane.remote")

// The page is built into this library; a static library's resources are registered by hand.
static void InitRemoteResources() { Q_INIT_RESOURCE(remote); }

namespace {

using Status = QHttpServerResponder::StatusCode;
using Method = QHttpServerRequest::Method;

constexpr const char* kLivePath = "/api/v1/live";
// A live connection that has not given the key by then is closed.
constexpr int kAdmitMilliseconds = 5000;

QString Latin1(const char* text) { return QString::fromLatin1(text); }

void Reply(QHttpServerResponder& responder, Status status, const QByteArray& body,
           const QByteArray& type, const QList<std::pair<QByteArray, QByteArray>>& headers = {}) {
    responder.writeStatusLine(status);
    responder.writeHeader("Content-Type", type);
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    for (const auto& [key, value] : headers) {
        responder.writeHeader(key, value);
    }
    responder.writeBody(body);
}

void ReplyJson(QHttpServerResponder& responder, Status status, const QJsonObject& object,
               const QList<std::pair<QByteArray, QByteArray>>& headers = {}) {
    Reply(responder, status, QJsonDocument(object).toJson(QJsonDocument::Compact),
          "application/json", headers);
}

void ReplyError(QHttpServerResponder& responder, Status status, const QString& text,
                const QList<std::pair<QByteArray, QByteArray>>& headers = {}) {
    ReplyJson(responder, status, {{QStringLiteral("error"), text}}, headers);
}

QByteArray MethodName(Method method) {
    switch (method) {
        case Method::Get:
            return "GET";
        case Method::Put:
            return "PUT";
        case Method::Post:
            return "POST";
        default:
            return {};
    }
}

}  // namespace

// Every request, whatever its path or method, comes to the one handler, which answers it.
class WebRemote::Server : public QAbstractHttpServer {
public:
    using Handler = std::function<void(const QHttpServerRequest&, QTcpSocket*)>;
    explicit Server(Handler handler) : handler_(std::move(handler)) {}
    static QHttpServerResponder Responder(const QHttpServerRequest& request, QTcpSocket* socket) {
        return makeResponder(request, socket);
    }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        handler_(request, socket);
        return true;
    }
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
        handler_(request, socket);
    }

private:
    Handler handler_;
};

WebRemote::Config WebRemote::ReadConfig() {
    const QString ini = Mod_INI::IniFilePath();
    const QString section = Latin1(kSection);
    Config config;
    const uint port = Mod_INI::GetIniValue(ini, Latin1(kPortKey), {}, section).toUInt();
    config.port = port <= 65535 ? static_cast<quint16>(port) : 0;
    config.lan = Mod_INI::GetIniValue(ini, Latin1(kLanKey), {}, section).trimmed() == u"1";
    config.key = Mod_INI::GetIniValue(ini, Latin1(kKeyKey), {}, section).trimmed();
    return config;
}

void WebRemote::StoreConfig(const Config& config) {
    const QString ini = Mod_INI::IniFilePath();
    Mod_INI::PutIniValues(ini,
                          {{Latin1(kPortKey), QString::number(config.port)},
                           {Latin1(kLanKey), config.lan ? QStringLiteral("1") : QStringLiteral("0")},
                           {Latin1(kKeyKey), config.key}},
                          Latin1(kSection));
    KeepKeyPrivate(config);
}

void WebRemote::KeepKeyPrivate(const Config& config) {
    if (!config.key.isEmpty()) {
        QFile::setPermissions(Mod_INI::IniFilePath(), QFile::ReadOwner | QFile::WriteOwner);
    }
}

WebRemote::WebRemote(Player& player, QObject* parent) : QObject(parent), player_(player) {
    InitRemoteResources();
    clock_.start();
    pushSoon_.setSingleShot(true);
    pushSoon_.setInterval(100);
    connect(&pushSoon_, &QTimer::timeout, this, &WebRemote::PushStatus);
    pushTimer_.setInterval(1000);
    connect(&pushTimer_, &QTimer::timeout, this, &WebRemote::PushStatus);
    const auto soon = [this] {
        if (!live_.empty()) {
            pushSoon_.start();
        }
    };
    connect(&player_, &Player::ValueChanged, this, soon);
    connect(&player_, &Player::OptionsChanged, this, soon);
    connect(&player_, &Player::StatusChanged, this, soon);
    connect(&player_, &Player::PlayingChanged, this, soon);
    connect(&player_, &Player::PausedChanged, this, soon);
    connect(&player_, &Player::ClosedTextChanged, this, soon);
    connect(&player_, &Player::MessageLogged, this, soon);
}

WebRemote::~WebRemote() { Stop(); }

bool WebRemote::Start(const Config& config) {
    Stop();
    config_ = config;
    error_.clear();
    if (config.port == 0) {
        return true;
    }
    if (config.key.isEmpty()) {
        error_ = QStringLiteral("no key has been made");
        return false;
    }
    server_ = std::make_unique<Server>(
        [this](const QHttpServerRequest& request, QTcpSocket* socket) { Handle(request, socket); });
    const QHostAddress address = config.lan ? QHostAddress::Any : QHostAddress::LocalHost;
    if (server_->listen(address, config.port) == 0) {
        const QList<QTcpServer*> servers = server_->servers();
        error_ = servers.isEmpty() ? QStringLiteral("port %1 cannot be used").arg(config.port)
                                   : servers.first()->errorString();
        qCWarning(lcRemote, "web remote: %s", qPrintable(error_));
        server_.reset();
        return false;
    }
    listening_ = {config.lan, config.port, config.lan ? RemoteApi::LocalNames() : QStringList()};
    connect(server_.get(), &QAbstractHttpServer::newWebSocketConnection, this,
            &WebRemote::TakeWebSockets);
    return true;
}

void WebRemote::Stop() {
    pushSoon_.stop();
    pushTimer_.stop();
    for (Live& live : live_) {
        live.socket->disconnect(this);
        live.socket->close();
        live.socket.release()->deleteLater();
    }
    live_.clear();
    server_.reset();
    listening_ = {};
}

// The checks come in a fixed order, each before anything later could be learnt: the size, the
// name the server was reached by, the address's failures, the key; then the route.
void WebRemote::Handle(const QHttpServerRequest& request, QTcpSocket* socket) {
    QHttpServerResponder responder = Server::Responder(request, socket);
    const QString path = request.url().path();
    const Method method = request.method();
    const QByteArray body = request.body();
    if (body.size() > RemoteApi::kMostBodyBytes) {
        return ReplyError(responder, Status::PayloadTooLarge, QStringLiteral("the body is too long"));
    }
    if (!RemoteApi::HostAllowed(request.value("Host"), listening_)) {
        return ReplyError(responder, Status::MisdirectedRequest,
                          QStringLiteral("this server is not known by that name"));
    }
    const QHostAddress peer = request.remoteAddress();
    if (failures_.Refused(peer, NowMs())) {
        return ReplyError(responder, Status::TooManyRequests,
                          QStringLiteral("too many wrong keys; try again in a minute"),
                          {{"Retry-After", "60"}});
    }
    const bool page = path == u"/";
    if (!page && !RemoteApi::KeyMatches(RemoteApi::BearerKey(request.value("Authorization")),
                                        config_.key)) {
        failures_.Failed(peer, NowMs());
        return ReplyError(responder, Status::Unauthorized, QStringLiteral("a valid key is needed"),
                          {{"WWW-Authenticate", "Bearer"}});
    }

    struct Route {
        const char* path;
        Method method;
        std::function<void()> action;
    };
    const auto status = [&] { ReplyJson(responder, Status::Ok, RemoteApi::Status(player_)); };
    const Route routes[] = {
        {"/", Method::Get,
         [&] {
             QFile file(QStringLiteral(":/remote/remote.html"));
             const QByteArray html = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
             Reply(responder, Status::Ok, html, "text/html; charset=utf-8",
                   {{"Content-Security-Policy",
                     "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                     "connect-src 'self'; img-src data:; frame-ancestors 'none'"},
                    {"X-Frame-Options", "DENY"},
                    {"Referrer-Policy", "no-referrer"}});
         }},
        {"/api/v1/status", Method::Get, status},
        {"/api/v1/settings", Method::Put,
         [&] {
             auto change = RemoteApi::DecodeSettings(body);
             if (const auto* reason = std::get_if<QString>(&change)) {
                 return ReplyError(responder, Status::BadRequest, *reason);
             }
             RemoteApi::Apply(player_, std::get<RemoteApi::SettingsChange>(change));
             status();
         }},
        {"/api/v1/next", Method::Post,
         [&] {
             player_.NextTrack();
             status();
         }},
        {"/api/v1/message", Method::Post,
         [&] {
             QString file;
             if (!body.trimmed().isEmpty()) {
                 const QJsonDocument document = QJsonDocument::fromJson(body);
                 const QJsonValue value = document.object().value(QStringLiteral("file"));
                 if (!document.isObject() || !(value.isString() || value.isUndefined())) {
                     return ReplyError(responder, Status::BadRequest,
                                       QStringLiteral("a JSON object with a \"file\" name was expected"));
                 }
                 file = value.toString();
             }
             const MediaList& list = player_.List(Player::kMessages);
             bool listed = file.isEmpty();
             for (int i = 0; i < list.ListCount() && !listed; ++i) {
                 listed = list.List(i) == file;
             }
             if (!listed) {
                 return ReplyError(responder, Status::BadRequest,
                                   QStringLiteral("no such message: ") + file);
             }
             if (!player_.PlayMessageNow(file)) {
                 return ReplyError(responder, Status::Conflict,
                                   QStringLiteral("no message can play now"));
             }
             status();
         }},
        {"/api/v1/pause", Method::Post,
         [&] {
             if (!player_.Paused()) {
                 player_.Pause();
             }
             status();
         }},
        {"/api/v1/resume", Method::Post,
         [&] {
             if (player_.Paused()) {
                 player_.Resume();
             }
             status();
         }},
    };
    const auto route = std::find_if(std::begin(routes), std::end(routes),
                                    [&](const Route& r) { return path == QLatin1String(r.path); });
    if (route == std::end(routes)) {
        return ReplyError(responder, Status::NotFound, QStringLiteral("no such path"));
    }
    if (route->method != method) {
        return ReplyError(responder, Status::MethodNotAllowed,
                          QStringLiteral("this path takes ") + QString::fromLatin1(MethodName(route->method)),
                          {{"Allow", MethodName(route->method)}});
    }
    route->action();
}

// A browser cannot give a live connection a header, so it gives the key as its first message.
// The upgrade comes past the request handler: the same checks are made here.
void WebRemote::TakeWebSockets() {
    while (server_ && server_->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = server_->nextPendingWebSocketConnection();
        if (!socket) {
            continue;
        }
        const QByteArray host = socket->request().rawHeader("Host");
        const bool admissible =
            !failures_.Refused(socket->peerAddress(), NowMs()) &&
            socket->requestUrl().path() == QLatin1String(kLivePath) &&
            RemoteApi::HostAllowed(host, listening_) &&
            socket->origin().compare(QStringLiteral("http://") + QString::fromLatin1(host),
                                     Qt::CaseInsensitive) == 0;
        if (!admissible) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
            socket.release()->deleteLater();
            continue;
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
    socket->sendTextMessage(QString::fromUtf8(
        QJsonDocument(RemoteApi::Status(player_)).toJson(QJsonDocument::Compact)));
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
    const QString text = QString::fromUtf8(
        QJsonDocument(RemoteApi::Status(player_)).toJson(QJsonDocument::Compact));
    for (const Live& live : live_) {
        if (live.admitted) {
            live.socket->sendTextMessage(text);
        }
    }
}
