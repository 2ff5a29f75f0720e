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
#include <optional>

#include "player/Player.h"
#include "settings/Mod_INI.h"
#include "support/Language.h"

Q_LOGGING_CATEGORY(lcRemote, "corvane.remote")

// The page is built into this library; a static library's resources are registered by hand.
static void InitRemoteResources() {
    Q_INIT_RESOURCE(remote);
}

namespace {

using Status = QHttpServerResponder::StatusCode;
using Method = QHttpServerRequest::Method;

QString Latin1(const char* text) {
    return QString::fromLatin1(text);
}

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

// A request to become a WebSocket: both headers, as the HTTP parser needs them to see an upgrade.
bool IsUpgrade(const QHttpServerRequest& request) {
    return request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0 &&
           request.value("Connection").toLower().contains("upgrade");
}

// What each path does, once the request has passed every check.
void ReplyStatus(Player& player, QHttpServerResponder& responder,
                 const QHttpServerRequest& /*request*/) {
    ReplyJson(responder, Status::Ok, RemoteApi::Status(player));
}

void ServePage(Player& /*player*/, QHttpServerResponder& responder,
               const QHttpServerRequest& request) {
    const QString language = WebRemote::PageLanguage(
        request.url().query(), request.value("Accept-Language"), Language::Current());
    Reply(responder, Status::Ok, WebRemote::Page(language), "text/html; charset=utf-8",
          {{"Content-Security-Policy",
            "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
            "connect-src 'self'; img-src data:; frame-ancestors 'none'"},
           {"X-Frame-Options", "DENY"},
           {"Referrer-Policy", "no-referrer"},
           {"Vary", "Accept-Language"}});
}

void ChangeSettings(Player& player, QHttpServerResponder& responder,
                    const QHttpServerRequest& request) {
    auto change = RemoteApi::DecodeSettings(request.body());
    if (const auto* reason = std::get_if<QString>(&change)) {
        return ReplyError(responder, Status::BadRequest, *reason);
    }
    RemoteApi::Apply(player, std::get<RemoteApi::SettingsChange>(change));
    ReplyStatus(player, responder, request);
}

void NextTrack(Player& player, QHttpServerResponder& responder, const QHttpServerRequest& request) {
    player.NextTrack();
    ReplyStatus(player, responder, request);
}

// The message named, which must be one of the messages folder's; none named: the next in turn.
void PlayMessage(Player& player, QHttpServerResponder& responder,
                 const QHttpServerRequest& request) {
    const QByteArray body = request.body();
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
    const MediaList& list = player.List(Player::kMessages);
    bool listed = file.isEmpty();
    for (int i = 0; i < list.ListCount() && !listed; ++i) {
        listed = list.List(i) == file;
    }
    if (!listed) {
        return ReplyError(responder, Status::BadRequest,
                          QStringLiteral("no such message: ") + file);
    }
    if (!player.PlayMessageNow(file)) {
        return ReplyError(responder, Status::Conflict, QStringLiteral("no message can play now"));
    }
    ReplyStatus(player, responder, request);
}

void Pause(Player& player, QHttpServerResponder& responder, const QHttpServerRequest& request) {
    if (!player.Paused()) {
        player.Pause();
    }
    ReplyStatus(player, responder, request);
}

void Resume(Player& player, QHttpServerResponder& responder, const QHttpServerRequest& request) {
    if (player.Paused()) {
        player.Resume();
    }
    ReplyStatus(player, responder, request);
}

struct Route {
    const char* path;
    Method method;
    void (*serve)(Player&, QHttpServerResponder&, const QHttpServerRequest&);
};
const Route kRoutes[] = {
    {"/", Method::Get, ServePage},
    {"/api/v1/status", Method::Get, ReplyStatus},
    {"/api/v1/settings", Method::Put, ChangeSettings},
    {"/api/v1/next", Method::Post, NextTrack},
    {"/api/v1/message", Method::Post, PlayMessage},
    {"/api/v1/pause", Method::Post, Pause},
    {"/api/v1/resume", Method::Post, Resume},
};

}  // namespace

// Every request, whatever its path or method, comes to one handler, which answers it. An upgrade
// comes first to `upgrade`: the server takes the connection over when it says yes and has written
// nothing, and closes it when it says no.
class WebRemote::Server : public QAbstractHttpServer {
public:
    using Handler = std::function<void(const QHttpServerRequest&, QTcpSocket*)>;
    using UpgradeHandler = std::function<bool(const QHttpServerRequest&, QTcpSocket*)>;
    Server(Handler handler, UpgradeHandler upgrade)
        : handler_(std::move(handler)), upgrade_(std::move(upgrade)) {}
    static QHttpServerResponder Responder(const QHttpServerRequest& request, QTcpSocket* socket) {
        return makeResponder(request, socket);
    }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        if (IsUpgrade(request)) {
            return upgrade_(request, socket);
        }
        handler_(request, socket);
        return true;
    }
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
        if (!IsUpgrade(request)) {  // a refused upgrade has had its answer
            handler_(request, socket);
        }
    }

private:
    Handler handler_;
    UpgradeHandler upgrade_;
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
    Mod_INI::PutIniValues(
        ini,
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
    player_.OnShownChange(this, [this] {
        if (!live_.empty()) {
            pushSoon_.start();
        }
    });
}

WebRemote::~WebRemote() {
    Stop();
}

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
        [this](const QHttpServerRequest& request, QTcpSocket* socket) { Handle(request, socket); },
        [this](const QHttpServerRequest& request, QTcpSocket* socket) {
            return Upgrade(request, socket);
        });
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

void WebRemote::Handle(const QHttpServerRequest& request, QTcpSocket* socket) {
    QHttpServerResponder responder = Server::Responder(request, socket);
    if (const std::optional<Refusal> refusal = RequestRefusal(request)) {
        return ReplyError(responder, refusal->status, refusal->reason, refusal->headers);
    }
    const QString path = request.url().path();
    const Route* route = std::find_if(std::begin(kRoutes), std::end(kRoutes), [&](const Route& r) {
        return path == QLatin1String(r.path);
    });
    if (route == std::end(kRoutes)) {
        return ReplyError(responder, Status::NotFound, QStringLiteral("no such path"));
    }
    if (route->method != request.method()) {
        return ReplyError(
            responder, Status::MethodNotAllowed,
            QStringLiteral("this path takes ") + QString::fromLatin1(MethodName(route->method)),
            {{"Allow", MethodName(route->method)}});
    }
    route->serve(player_, responder, request);
}

// The checks come in a fixed order, each before anything later could be learnt: the size, the
// name the server was reached by, the address's failures, the key. A wrong key counts against
// the address.
std::optional<WebRemote::Refusal> WebRemote::RequestRefusal(const QHttpServerRequest& request) {
    if (request.body().size() > RemoteApi::kMostBodyBytes) {
        return Refusal{Status::PayloadTooLarge, QStringLiteral("the body is too long")};
    }
    const QHostAddress peer = request.remoteAddress();
    if (std::optional<Refusal> refusal = AddressRefusal(request.value("Host"), peer)) {
        return refusal;
    }
    if (request.url().path() != u"/" &&
        !RemoteApi::KeyMatches(RemoteApi::BearerKey(request.value("Authorization")), config_.key)) {
        failures_.Failed(peer, NowMs());
        return Refusal{Status::Unauthorized,
                       QStringLiteral("a valid key is needed"),
                       {{"WWW-Authenticate", "Bearer"}}};
    }
    return std::nullopt;
}

// Whether the server is reached by a name of its own, from an address not locked out.
std::optional<WebRemote::Refusal> WebRemote::AddressRefusal(const QByteArray& host,
                                                            const QHostAddress& peer) const {
    if (!RemoteApi::HostAllowed(host, listening_)) {
        return Refusal{Status::MisdirectedRequest,
                       QStringLiteral("this server is not known by that name")};
    }
    if (failures_.Refused(peer, NowMs())) {
        return Refusal{Status::TooManyRequests,
                       QStringLiteral("too many wrong keys; try again in a minute"),
                       {{"Retry-After", "60"}}};
    }
    return std::nullopt;
}

bool WebRemote::Upgrade(const QHttpServerRequest& request, QTcpSocket* socket) {
    const auto refusal =
        LiveRefusal(request.value("Host"), QString::fromLatin1(request.value("Origin")),
                    request.url().path(), request.remoteAddress());
    if (refusal) {
        QHttpServerResponder responder = Server::Responder(request, socket);
        ReplyError(responder, refusal->status, refusal->reason);
        return false;
    }
    return true;
}

void WebRemote::TakeWebSockets() {
    while (server_ && server_->hasPendingWebSocketConnections()) {
        if (std::unique_ptr<QWebSocket> socket = server_->nextPendingWebSocketConnection()) {
            TakeLive(std::move(socket));
        }
    }
}
