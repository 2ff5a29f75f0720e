#include "remote/Mpris.h"

#include <unistd.h>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>

#include "platform/tags.h"
#include "player/Player.h"

namespace {

constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";

QString ShownName(const QByteArray& path) {
    return QFileInfo(QFile::decodeName(path)).completeBaseName();
}

}  // namespace

// The two interfaces a media player shows on the bus, both on the one object.
class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QStringList SupportedUriSchemes READ Empty)
    Q_PROPERTY(QStringList SupportedMimeTypes READ Empty)

public:
    explicit MprisRootAdaptor(MprisBridge* bridge)
        : QDBusAbstractAdaptor(bridge), bridge_(bridge) {}
    QString Identity() const { return QStringLiteral("Corvane"); }
    QString DesktopEntry() const { return QStringLiteral("org.example.Corvane"); }
    bool CanRaise() const { return bridge_->CanRaise(); }
    bool CanQuit() const { return true; }
    bool HasTrackList() const { return false; }
    QStringList Empty() const { return {}; }

public slots:
    void Raise() { bridge_->Raise(); }
    void Quit() { bridge_->Quit(); }

private:
    MprisBridge* bridge_;
};

class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(double Rate READ One WRITE SetRate)
    Q_PROPERTY(double MinimumRate READ One)
    Q_PROPERTY(double MaximumRate READ One)
    Q_PROPERTY(bool CanGoNext READ Yes)
    Q_PROPERTY(bool CanGoPrevious READ No)
    Q_PROPERTY(bool CanPlay READ Yes)
    Q_PROPERTY(bool CanPause READ Yes)
    Q_PROPERTY(bool CanSeek READ No)
    Q_PROPERTY(bool CanControl READ Yes)

public:
    explicit MprisPlayerAdaptor(MprisBridge* bridge)
        : QDBusAbstractAdaptor(bridge), bridge_(bridge) {}
    QString PlaybackStatus() const { return bridge_->PlaybackStatus(); }
    QVariantMap Metadata() const { return bridge_->Metadata(); }
    double Volume() const { return bridge_->Volume(); }
    void SetVolume(double volume) { bridge_->SetVolume(volume); }
    qlonglong Position() const { return bridge_->PositionUs(); }
    double One() const { return 1.0; }
    void SetRate(double) {}
    bool Yes() const { return true; }
    bool No() const { return false; }

public slots:
    void Next() { bridge_->Next(); }
    void Previous() {}
    void Play() { bridge_->Play(); }
    void Pause() { bridge_->Pause(); }
    void PlayPause() { bridge_->PlayPause(); }
    // There is nothing to stop to: background music only ever holds.
    void Stop() { bridge_->Pause(); }
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString&) {}

signals:
    void Seeked(qlonglong position);

private:
    MprisBridge* bridge_;
};

MprisBridge::MprisBridge(Player& player, Window window, QObject* parent)
    : QObject(parent), player_(player), window_(std::move(window)) {
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
    player_.OnShownChange(this, [this] { Refresh(); });
}

MprisBridge::~MprisBridge() {
    if (!serviceName_.isEmpty()) {
        QDBusConnection::sessionBus().unregisterService(serviceName_);
    }
}

bool MprisBridge::Register() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerObject(kObjectPath, this)) {
        return false;
    }
    const QString names[] = {QString::fromLatin1(kServiceName), QString::fromLatin1(kServiceName) +
                                                                    QStringLiteral(".instance") +
                                                                    QString::number(::getpid())};
    for (const QString& name : names) {
        if (bus.registerService(name)) {
            serviceName_ = name;
            Refresh();
            return true;
        }
    }
    bus.unregisterObject(kObjectPath);
    return false;
}

QString MprisBridge::PlaybackStatus() const {
    if (player_.Paused()) {
        return QStringLiteral("Paused");
    }
    if (player_.Closed() || (player_.Playing(Player::kMusic).isEmpty() &&
                             player_.Playing(Player::kMessages).isEmpty())) {
        return QStringLiteral("Stopped");
    }
    return QStringLiteral("Playing");
}

double MprisBridge::Volume() const {
    return player_.Get(Player::kMusicHigh) / 100.0;
}

void MprisBridge::SetVolume(double volume) {
    if (std::isfinite(volume)) {
        player_.Set(Player::kMusicHigh,
                    static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100)));
    }
}

qint64 MprisBridge::PositionUs() const {
    const int channel =
        player_.Playing(Player::kMessages).isEmpty() ? Player::kMusic : Player::kMessages;
    return std::max<qint64>(0, player_.Playback().PositionMs(channel)) * 1000;
}

void MprisBridge::Raise() {
    if (window_.raise) {
        window_.raise();
    }
}

void MprisBridge::Quit() {
    if (window_.quit) {
        window_.quit();
    }
}

void MprisBridge::Next() {
    player_.NextTrack();
}

void MprisBridge::Play() {
    if (player_.Paused()) {
        player_.Resume();
    }
}

void MprisBridge::Pause() {
    if (!player_.Paused()) {
        player_.Pause();
    }
}

void MprisBridge::PlayPause() {
    player_.Paused() ? player_.Resume() : player_.Pause();
}

// Compares what the player shows now with what the bus was last told, and tells what changed.
void MprisBridge::Refresh() {
    QVariantMap changed;
    const bool message = !player_.Playing(Player::kMessages).isEmpty();
    const QByteArray path = player_.Playing(message ? Player::kMessages : Player::kMusic);
    const QString streamTitle = message ? QString() : player_.StreamTitle();
    if (path != shownPath_ || streamTitle != shownStreamTitle_) {
        shownPath_ = path;
        shownStreamTitle_ = streamTitle;
        metadata_.clear();
        if (path.isEmpty()) {
            metadata_.insert(QStringLiteral("mpris:trackid"),
                             QVariant::fromValue(QDBusObjectPath(
                                 QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"))));
        } else {
            metadata_.insert(
                QStringLiteral("mpris:trackid"),
                QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/example/Corvane/track/") +
                                                    QString::number(++trackNumber_))));
            metadata_.insert(QStringLiteral("xesam:url"),
                             QUrl::fromLocalFile(QFile::decodeName(path)).toString());
            metadata_.insert(
                QStringLiteral("xesam:title"),
                message ? QStringLiteral("Message: ") + ShownName(path) : ShownName(path));
            if (!streamTitle.isEmpty()) {
                metadata_.insert(QStringLiteral("xesam:title"), streamTitle);
            } else {
                ReadTagsOf(path);
            }
        }
        changed.insert(QStringLiteral("Metadata"), metadata_);
    }
    if (const QString status = PlaybackStatus(); status != shownStatus_) {
        shownStatus_ = status;
        changed.insert(QStringLiteral("PlaybackStatus"), status);
    }
    if (const double volume = Volume(); volume != shownVolume_) {
        shownVolume_ = volume;
        changed.insert(QStringLiteral("Volume"), volume);
    }
    Changed(changed);
}

// Tags take a moment to read: the name is shown at once, the tags once they are known.
void MprisBridge::ReadTagsOf(const QByteArray& path) {
    const bool message = !player_.Playing(Player::kMessages).isEmpty();
    auto* watcher = new QFutureWatcher<Platform::Tags::Tags>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, path, message] {
        watcher->deleteLater();
        if (path != shownPath_) {
            return;
        }
        const Platform::Tags::Tags tags = watcher->result();
        if (!tags.title.isEmpty()) {
            metadata_.insert(QStringLiteral("xesam:title"),
                             message ? QStringLiteral("Message: ") + tags.title : tags.title);
        }
        if (!tags.artists.isEmpty()) {
            metadata_.insert(QStringLiteral("xesam:artist"), tags.artists);
        }
        if (tags.durationUs >= 0) {
            metadata_.insert(QStringLiteral("mpris:length"), qlonglong{tags.durationUs});
        }
        Changed({{QStringLiteral("Metadata"), metadata_}});
    });
    watcher->setFuture(QtConcurrent::run([path] { return Platform::Tags::Read(path); }));
}

void MprisBridge::Changed(const QVariantMap& properties) {
    if (properties.isEmpty() || serviceName_.isEmpty()) {
        return;
    }
    QDBusMessage signal =
        QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayerInterface) << properties << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

#include "Mpris.moc"
