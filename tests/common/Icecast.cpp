#include "Icecast.h"

#include <unistd.h>

#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

#include "MediaFixtures.h"

namespace {

struct Reply {
    int status = 0;  // 0: no answer
    QByteArray headers;
    QByteArray body;
};

// A GET of `path` on the server that returns once the headers and `bodyBytes` of what follows have
// come, the server has closed, or `timeoutMs` has passed. A stream never ends: its first bytes are
// all a caller learns from it.
Reply Get(quint16 port, const QString& path, qsizetype bodyBytes, int timeoutMs,
          const QByteArray& login = {}) {
    Reply reply;
    const QDeadlineTimer deadline(timeoutMs);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
        return reply;
    }
    const QByteArray auth =
        login.isEmpty() ? QByteArray() : "Authorization: Basic " + login.toBase64() + "\r\n";
    socket.write("GET /" + path.toUtf8() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" + auth + "\r\n");
    QByteArray data;
    for (;;) {
        data += socket.readAll();
        const qsizetype end = data.indexOf("\r\n\r\n");
        if ((end >= 0 && data.size() - end - 4 >= bodyBytes) || deadline.hasExpired() ||
            !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            break;
        }
    }
    data += socket.readAll();
    const qsizetype end = data.indexOf("\r\n\r\n");
    if (end < 0) {
        return reply;
    }
    reply.headers = data.left(end);
    const QList<QByteArray> statusLine = reply.headers.left(reply.headers.indexOf('\r')).split(' ');
    reply.status = statusLine.size() > 1 ? statusLine[1].toInt() : 0;
    reply.body = data.mid(end + 4);
    return reply;
}

bool OnTheAir(quint16 port, const QString& mount, int timeoutMs) {
    const Reply reply = Get(port, mount, 1, timeoutMs);
    return reply.status == 200 && !reply.body.isEmpty();
}

// A port nobody listens on now. Another program may take it before the server binds it.
quint16 FreePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress(QHostAddress::LocalHost), 0) ? probe.serverPort() : 0;
}

QString MountName(const QString& mount) {
    return mount.startsWith(u'/') ? mount.mid(1) : mount;
}

// The shared configuration, filled in. `dir` names the server on its status page too, so that it is
// told from another that took the port first.
QString Config(const QString& dir, quint16 port, const QString& password) {
    QFile file(QStringLiteral(CORVANE_ICECAST_CONFIG));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    // Icecast refuses to run as root unless it may drop to another user. It reads its
    // configuration and writes its pid file before it does, and logs to its standard error, which
    // its parent opened: nothing it writes later needs a folder that user may write to.
    const QString owner =
        geteuid() == 0
            ? QStringLiteral("<changeowner><user>nobody</user><group>nogroup</group></changeowner>")
            : QString();
    return QString::fromUtf8(file.readAll())
        .replace(QStringLiteral("@LOCATION@"), QFileInfo(dir).fileName().toHtmlEscaped())
        .replace(QStringLiteral("@PASSWORD@"), password)
        .replace(QStringLiteral("@PORT@"), QString::number(port))
        .replace(QStringLiteral("@DIR@"), dir.toHtmlEscaped())
        .replace(QStringLiteral("@OWNER@"), owner)
        .replace(QStringLiteral("@SOURCE_TIMEOUT@"), QStringLiteral("3"));
}

}  // namespace

IcecastServer::IcecastServer()
    : dir_(QDir::tempPath() + QStringLiteral("/corvane-icecast-XXXXXX")),
      password_(QString::number(QRandomGenerator::system()->generate64(), 16)) {}

IcecastServer::~IcecastServer() {
    while (!feeders_.empty()) {
        StopFeed(feeders_.begin()->first);
    }
    if (server_.state() != QProcess::NotRunning) {
        server_.kill();
        server_.waitForFinished();
    }
}

bool IcecastServer::Start() {
    if (server_.state() != QProcess::NotRunning) {
        return true;
    }
    const QString program = QStandardPaths::findExecutable(QStringLiteral("icecast2"));
    if (program.isEmpty()) {
        qWarning("IcecastServer: no icecast2 program on the PATH (Debian package icecast2)");
        return false;
    }
    if (!dir_.isValid()) {
        qWarning().noquote() << "IcecastServer: no temporary folder:" << dir_.errorString();
        return false;
    }
    // A server that lost its port to another program ends at once: then it tries another.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (Launch(program, FreePort())) {
            return true;
        }
        if (server_.state() != QProcess::NotRunning) {
            server_.kill();
            server_.waitForFinished();
            break;
        }
    }
    qWarning().noquote() << "IcecastServer: icecast2 never listened:\n"
                         << LogOf(QStringLiteral("icecast.log"));
    return false;
}

bool IcecastServer::Launch(const QString& program, quint16 port) {
    const QString config = dir_.filePath(QStringLiteral("icecast.xml"));
    if (port == 0 ||
        !MediaFixtures::MakeFile(config, Config(dir_.path(), port, password_).toUtf8())) {
        return false;
    }
    // In the foreground, so that it is this process's child and ends with it.
    server_.setProcessChannelMode(QProcess::MergedChannels);
    server_.setStandardOutputFile(dir_.filePath(QStringLiteral("icecast.log")), QIODevice::Append);
    server_.start(program, {QStringLiteral("-c"), config});
    if (!server_.waitForStarted()) {
        return false;
    }
    // Its own answer, not that of a program that took the port first. The page ends with the
    // connection.
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        const Reply reply = Get(port, QStringLiteral("status-json.xsl"), 1 << 20, 1000);
        if (reply.status == 200 &&
            reply.body.contains(QFileInfo(dir_.path()).fileName().toUtf8())) {
            port_ = port;
            return true;
        }
        if (server_.waitForFinished(100)) {
            return false;
        }
    }
    return false;
}

QString IcecastServer::Url(const QString& mount) const {
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(port_).arg(MountName(mount));
}

bool IcecastServer::SetTitle(const QString& mount, const QString& title) {
    const QString path = QStringLiteral("admin/metadata?mount=/%1&mode=updinfo&song=%2")
                             .arg(mount.startsWith(u'/') ? mount.mid(1) : mount,
                                  QString::fromLatin1(QUrl::toPercentEncoding(title)));
    return Get(port_, path, 0, 3000, "source:" + password_.toUtf8()).status == 200;
}

bool IcecastServer::Feed(const QString& mount, int toneHz, double amplitude) {
    const QString name = MountName(mount);
    if (port_ == 0) {
        qWarning().noquote() << "IcecastServer: no server for" << name << "yet: Start it first";
        return false;
    }
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0"));
    if (program.isEmpty()) {
        qWarning(
            "IcecastServer: no gst-launch-1.0 on the PATH (Debian package gstreamer1.0-tools)");
        return false;
    }
    // The server takes one source a mount: the old station has to be off the air first.
    if (feeders_.count(name) != 0) {
        StopFeed(name);
        const QDeadlineTimer gone(5000);
        while (OnTheAir(port_, name, 1000) && !gone.hasExpired()) {
            QThread::msleep(50);
        }
    }
    const QString log = QStringLiteral("feed-%1.log").arg(QString(name).replace(u'/', u'_'));
    auto feeder = std::make_unique<QProcess>();
    feeder->setProcessChannelMode(QProcess::MergedChannels);
    feeder->setStandardOutputFile(dir_.filePath(log));
    // Live, so that the station sends in real time, as one on the air does.
    feeder->start(program, {QStringLiteral("-q"),
                            QStringLiteral("audiotestsrc"),
                            QStringLiteral("is-live=true"),
                            QStringLiteral("wave=sine"),
                            QStringLiteral("freq=%1").arg(toneHz),
                            QStringLiteral("volume=%1").arg(amplitude),
                            QStringLiteral("!"),
                            QStringLiteral("audio/x-raw,rate=44100,channels=2"),
                            QStringLiteral("!"),
                            QStringLiteral("audioconvert"),
                            QStringLiteral("!"),
                            QStringLiteral("lamemp3enc"),
                            QStringLiteral("target=bitrate"),
                            QStringLiteral("bitrate=128"),
                            QStringLiteral("cbr=true"),
                            QStringLiteral("!"),
                            QStringLiteral("shout2send"),
                            QStringLiteral("ip=127.0.0.1"),
                            QStringLiteral("port=%1").arg(port_),
                            QStringLiteral("mount=/%1").arg(name),
                            QStringLiteral("password=%1").arg(password_)});
    if (!feeder->waitForStarted()) {
        qWarning().noquote() << "IcecastServer: gst-launch-1.0 did not start:"
                             << feeder->errorString();
        return false;
    }
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (OnTheAir(port_, name, 1000)) {
            feeders_[name] = std::move(feeder);
            return true;
        }
        if (feeder->waitForFinished(100)) {
            qWarning().noquote() << "IcecastServer: the station on" << name << "ended:\n"
                                 << LogOf(log);
            return false;
        }
    }
    feeder->kill();
    feeder->waitForFinished();
    qWarning().noquote() << "IcecastServer: the station on" << name << "never came on the air:\n"
                         << LogOf(log) << LogOf(QStringLiteral("icecast.log"));
    return false;
}

void IcecastServer::StopFeed(const QString& mount) {
    const auto found = feeders_.find(MountName(mount));
    if (found == feeders_.end()) {
        return;
    }
    found->second->kill();
    found->second->waitForFinished();
    feeders_.erase(found);
}

// The end of a log in the temporary folder, for a warning.
QString IcecastServer::LogOf(const QString& name) const {
    return QString::fromUtf8(MediaFixtures::ReadFile(dir_.filePath(name)).right(4000));
}

SilentServer::SilentServer() {
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            ++connections_;
            // What the client sends is read and dropped, so that it never waits on a full buffer.
            QObject::connect(socket, &QTcpSocket::readyRead, socket,
                             [socket] { socket->readAll(); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    if (!server_.listen(QHostAddress(QHostAddress::LocalHost), 0)) {
        qWarning().noquote() << "SilentServer: cannot listen:" << server_.errorString();
    }
}
