#include "desktop/SingleInstance.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

constexpr int kAnswerMilliseconds = 3000;

// A local socket name of bounded length that only this folder gives.
QString ServerName(const QString& folder) {
    return QStringLiteral("corvane-") +
           QString::fromLatin1(
               QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1).toHex());
}

}  // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent)
    : QObject(parent), name_(ServerName(folder)), lock_(folder + QStringLiteral("/.corvane.lock")) {
    // A lock is stale only when its process is gone, never because the player has run for long.
    lock_.setStaleLockTime(0);
    // A lock that cannot be written at all (a full disk, a file-size limit) must not keep the
    // music from playing: only a lock held by another player does.
    first_ = lock_.tryLock(0) || lock_.error() != QLockFile::LockFailedError;
    if (!first_) {
        return;
    }
    server_ = new QLocalServer(this);
    QLocalServer::removeServer(name_);  // a socket left by a killed player
    server_->listen(name_);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            socket->write("shown\n");
            socket->flush();
            socket->disconnectFromServer();
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            emit ShowRequested();
        }
    });
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::AskFirstToShow() const {
    QLocalSocket socket;
    socket.connectToServer(name_);
    return socket.waitForConnected(kAnswerMilliseconds) &&
           socket.waitForReadyRead(kAnswerMilliseconds);
}
