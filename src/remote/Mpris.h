#pragma once

#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>
#include <functional>

class Player;

// The player on the desktop's session bus, as a media player: the desktop's media widgets, the
// media keys and phone companions see what plays and steer it through the usual interface.
class MprisBridge : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kServiceName = "org.mpris.MediaPlayer2.corvane";
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";

    struct Window {
        std::function<void()> raise;  // empty when there is no screen to show it on
        std::function<void()> quit;
    };

    MprisBridge(Player& player, Window window, QObject* parent = nullptr);
    ~MprisBridge() override;

    // Takes the player's name on the session bus, or a name of its own when another player
    // holds it. False when there is no session bus.
    bool Register();
    QString ServiceName() const { return serviceName_; }

    // What the interfaces report, read from the player.
    QString PlaybackStatus() const;
    QVariantMap Metadata() const { return metadata_; }
    double Volume() const;
    void SetVolume(double volume);
    qint64 PositionUs() const;
    bool CanRaise() const { return static_cast<bool>(window_.raise); }

    void Raise();
    void Quit();
    void Next();
    void Play();
    void Pause();
    void PlayPause();

private:
    void Refresh();
    void ReadTagsOf(const QByteArray& path);
    void Changed(const QVariantMap& properties);

    Player& player_;
    Window window_;
    QString serviceName_;
    QVariantMap metadata_;
    QByteArray shownPath_;
    QString shownStreamTitle_;  // what the stream playing says it plays, as last told
    QString shownStatus_;
    double shownVolume_ = -1;
    quint64 trackNumber_ = 0;
};
