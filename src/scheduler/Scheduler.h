#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <set>

class MediaList;

// The playback core: keeps music playing without a break on channel 0 and, when the interval has
// passed, fades the music down, plays the next message on channel 1 and fades the music back up.
//
// A tick (once a second) reads both channels' modes and acts on them. Besides, the media service
// tells the core when a channel's file ends or fails, and the core acts on that at once: the next
// music file starts, or the music comes back up after a message. Fades are steps on a timer, so
// nothing here ever waits; a tick that falls due while a fade runs is dropped. A message that falls
// due while two music files crossfade starts once the crossfade is over.
class Scheduler : public QObject {
    Q_OBJECT

public:
    // Channel 0 plays music, channel 1 messages; "ZEL" + the channel's digit is its media alias.
    static constexpr int kMusic = 0;
    static constexpr int kMessages = 1;
    static QString ChannelAlias(int index);

    static constexpr int kFadeStepMilliseconds = 10;
    // The next music file is opened and cued this long before the one playing ends, under an
    // alias of its own, so that it starts at the very sample where the other ends.
    static constexpr int kCueAheadMilliseconds = 5000;
    static const QString kCuedMusicAlias;

    // The values the user sets, read afresh at every use.
    struct Inputs {
        std::function<int()> interval;      // seconds between messages; 0: no messages
        std::function<int()> musicHigh;     // music level while no message plays, 0..100
        std::function<int()> musicLow;      // music level during a message
        std::function<int()> messageLevel;  // level of the messages
        std::function<int()> crossfade;     // seconds music files overlap; 0 or none: gapless
        // A message after every that many music files instead of by the interval; 0 or none:
        // by the interval.
        std::function<int()> everySongs;
    };

    // How a message's play ended; a timed message not played at its time is missed.
    enum class Outcome { Played, CutShort, Failed, Missed };
    struct MessagePlay {
        QDateTime start;
        QByteArray path;
        qint64 lengthMs = 0;  // 0 when not known
        Outcome outcome = Outcome::Played;
    };

    Scheduler(Inputs inputs, MediaList& music, MediaList& messages, QObject* parent = nullptr);
    ~Scheduler() override;

    // Whether MessageFinished is emitted. Off, the core sends no command beyond the ones it needs
    // to play.
    void SetMessageReports(bool on) { reportMessages_ = on; }

    // What a media device is told its parent window is.
    void SetParentWindow(qint32 window) { parentWindow_ = window; }

    void Tick();
    // Starts the next file of a channel. A message starts after the music has faded down. True
    // when a file was started, or is about to be after the fade.
    bool PlayNextFile(int index);
    // Starts music files until one plays, at most one pass through the list between two ticks, so
    // a folder of files that cannot be played costs one pass a tick and never a busy loop.
    void StartMusic();
    void RefreshFileLists();
    // Reports the music's volume as it is now.
    void ShowVolume();

    // Closing time: the music and any message fade out over `fade`, then every device and the
    // sound output close. Nothing plays and no message is counted until Open.
    void Close(std::chrono::milliseconds fade);
    // Opening time: the music starts at once at its full level.
    void Open();
    bool Closed() const { return closed_; }
    // A message outside the rotation, at once with the music ducked; after the message playing, if
    // any, with the music kept down. Several follow one another in the order given. False when
    // nothing can play now (closed, paused, stopped).
    bool PlayTimed(const QByteArray& path);
    // The same for a message asked for by hand: `path`, or the next of the rotation when empty.
    // The interval counts afresh from it.
    bool PlayMessageNow(const QByteArray& path = {});
    // The next music file, after a short fade of the one playing.
    void NextTrack();
    static constexpr int kNextTrackFadeMilliseconds = 300;
    // Music and message hold where they are, and carry on from there; nothing is counted, faded or
    // started meanwhile.
    void Pause();
    void Resume();
    bool Paused() const { return paused_; }
    // The levels were set anew: they are heard at once. A fade running ends at the new level when
    // it heads to the one that changed, rather than jumping back to the old one at its next step.
    void LevelsChanged();
    // The file playing (or paused) on a channel; empty when none.
    QByteArray Playing(int channel) const { return playing_[channel]; }
    // How far into its file a channel is, in milliseconds; -1 when it cannot be told.
    qint64 PositionMs(int channel) const;
    // Ticks until the rotation's next message; none when the interval does not time it.
    std::optional<int> SecondsToNextMessage() const;
    // For shutdown: a running fade ends without another command, and nothing is started again. A
    // message still playing is reported cut short.
    void Stop();

    bool Fading() const { return fadeTimer_.isActive(); }
    qint16 MessageTicks() const { return messageTicks_; }

signals:
    void StatusChanged(int channel, const QString& mode);
    void VolumeShown(qint32 volume);
    // A file started on the channel, or the one there ended.
    void PlayingChanged(int channel);
    void PausedChanged(bool paused);
    // Once for every message started, when its play has ended one way or another.
    void MessageFinished(const Scheduler::MessagePlay& play);

private:
    struct Fade {
        int level = 0;
        int to = 0;
        int step = 0;
        QString side;
        std::function<void()> then;
    };

    QString ReadMode(int channel);
    bool MusicBelowHigh();
    void CountTick(bool messagePlaying);
    bool OpenAndPlay(int index, const QByteArray& path, int level);
    void StartFade(int from, int to, int step, const QString& side, std::function<void()> then);
    void FadeStep();
    void OnDeviceStopped(const QString& alias);
    void CueBeforeTheEnd(qint64 playedMs = 0);
    void CueNextMusic();
    void OnMusicAdvanced();
    void ForgetCuedMusic();
    int CrossfadeMilliseconds() const;
    void FinishMessage(Outcome outcome);
    void FinishStoppedMessage();
    int DuckFrom(bool ask);
    void DuckThen(int from, std::function<void()> then);
    bool MessageBusy();
    bool PlayTimedNext();
    void MusicStarted();
    void CloseStep();
    void FinishClose();
    int EverySongs() const;
    void SetPlaying(int channel, const QByteArray& path);
    void NextTrackStep();
    int MusicLevelNow();

    Inputs inputs_;
    std::array<MediaList*, 2> lists_;
    QTimer fadeTimer_;
    QTimer cueTimer_;      // when the next music file is cued
    QByteArray cuedName_;  // the music file cued, as its list has it
    // Runs while two music files crossfade; a message waits for its end.
    QTimer crossfadeTimer_;
    bool messageWaits_ = false;
    Fade fade_;
    qint32 parentWindow_ = 0;
    qint16 messageTicks_ = 0;
    int musicStarts_ = 0;                 // since the last tick
    std::set<QByteArray> unplayable_;     // files warned of, until they play
    std::optional<MessagePlay> message_;  // the message playing, until its end is reported
    bool reportMessages_ = false;
    bool stopped_ = false;

    std::deque<QByteArray> timed_;  // timed messages waiting for the message channel
    bool ducking_ = false;          // the music fades down for a message to start

    // Every N songs: files ended since the last message, and the music fading down at the end of
    // the file the message follows.
    int songsEnded_ = 0;
    bool musicStarted_ = false;  // since the opening: the first file ends none
    bool songMessageDue_ = false;
    QTimer songDuckTimer_;

    std::array<QByteArray, 2> playing_;

    // Next Track: the music fades out from nextFrom_ in steps, then the next file starts.
    QTimer nextTimer_;
    int nextStep_ = 0;
    int nextFrom_ = 0;
    bool nextUnderMessage_ = false;  // the file after it starts down, under the message

    bool paused_ = false;
    bool pausedFade_ = false;                                   // a fade was running when paused
    bool pausedNext_ = false;                                   // so was Next Track's
    std::optional<std::chrono::milliseconds> pausedCrossfade_;  // the crossfade's time left

    bool closed_ = false;
    QTimer closeTimer_;
    int closeStep_ = 0;
    int closeSteps_ = 0;
    std::array<int, 2> closeFrom_{};
};
