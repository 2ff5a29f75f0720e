#pragma once

#include <QElapsedTimer>
#include <QHttpServerResponder>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "remote/RemoteApi.h"

class Player;
class QHostAddress;
class QHttpServerRequest;
class QJsonObject;
class QTcpSocket;
class QWebSocket;

// The web remote: a small page and an API over HTTP, for a phone or another computer in the shop.
// Off until the user turns it on; every request carries the key the user was shown.
class WebRemote : public QObject {
    Q_OBJECT

public:
    // Where the user's choice is kept in the settings file.
    static constexpr const char* kSection = "Remote";
    static constexpr const char* kPortKey = "WebPort";
    static constexpr const char* kLanKey = "WebLan";
    static constexpr const char* kKeyKey = "WebKey";
    // The port offered when the remote is first turned on.
    static constexpr quint16 kDefaultPort = 8470;

    struct Config {
        quint16 port = 0;  // 0: off
        bool lan = false;  // false: this computer only
        QString key;
    };
    static Config ReadConfig();
    // Stores the choice; the settings file is then readable by its owner only, as it holds the key.
    static void StoreConfig(const Config& config);
    // A settings file that holds a key is readable by its owner only.
    static void KeepKeyPrivate(const Config& config);

    // The language the page is sent in: the `lang` of the request's query when the program has
    // it; else the first the program has of the browser's Accept-Language, best first; else the
    // program's own.
    static QString PageLanguage(const QString& query, const QByteArray& acceptLanguage,
                                const QString& programLanguage);
    // `object` as JSON that can sit inside a <script> element: no "<" in it can end the element.
    static QByteArray ScriptJson(const QJsonObject& object);
    // The page in `language`.
    static QByteArray Page(const QString& language);

    explicit WebRemote(Player& player, QObject* parent = nullptr);
    ~WebRemote() override;

    // Listens as `config` says, and only there; a port of 0 turns it off. False, with the reason
    // in Error(), when the port cannot be had.
    bool Start(const Config& config);
    void Stop();
    quint16 Port() const { return listening_.port; }
    QString Error() const { return error_; }
    const Config& Current() const { return config_; }

private:
    class Server;
    struct Live {
        std::unique_ptr<QWebSocket> socket;
        bool admitted = false;
    };

    // Why a request is answered with an error before it is served.
    struct Refusal {
        QHttpServerResponder::StatusCode status;
        QString reason;
        QList<std::pair<QByteArray, QByteArray>> headers = {};
    };

    void Handle(const QHttpServerRequest& request, QTcpSocket* socket);
    std::optional<Refusal> RequestRefusal(const QHttpServerRequest& request);
    std::optional<Refusal> AddressRefusal(const QByteArray& host, const QHostAddress& peer) const;
    std::optional<Refusal> LiveRefusal(const QByteArray& host, const QString& origin,
                                       const QString& path, const QHostAddress& peer) const;
    bool Upgrade(const QHttpServerRequest& request, QTcpSocket* socket);
    void TakeWebSockets();
    void TakeLive(std::unique_ptr<QWebSocket> socket);
    void Admit(QWebSocket* socket, const QString& message);
    void Drop(QWebSocket* socket);
    void PushStatus();
    qint64 NowMs() const { return clock_.elapsed(); }

    Player& player_;
    Config config_;
    RemoteApi::Listening listening_;
    std::unique_ptr<Server> server_;
    RemoteApi::FailureLimit failures_;
    QElapsedTimer clock_;
    QString error_;
    std::vector<Live> live_;
    QTimer pushSoon_;   // coalesces a burst of changes into one status
    QTimer pushTimer_;  // the countdown to the next message, once a second
};
