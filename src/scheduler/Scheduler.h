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

#include "audio/Mod_MCI.h"
#include "scheduler/Channel.h"
#include "scheduler/Fader.h"

class MediaList;

// The playback core: keeps music playing without a break on channel 0 and, when the interval has
// passed, fades the music down, plays the next message on channel 1 and fades the music back up.
//
// A tick (once a second) reads both channels' modes and acts on them. Besides, the media service
// tells the core when a channel's file ends or fails, when the next music file takes over and when
// a crossfade is over, and the core acts on that at once. What it does is decided by a few named
// states: the music's, the message channel's and the day's, and whether it is paused. Every level
// moves through one fader, so nothing here ever waits; a tick that falls due while the fader runs
// is dropped.
class Scheduler : public QObject {
    Q_OBJECT

public:
    // Channel 0 plays music, channel 1 messages; "ZEL" + the channel's digit is its media alias.
    static constexpr int kMusic = 0;
    static constexpr int kMessages = 1;
    static QString ChannelAlias(int index);

    // The next music file is opened and cued this long before the one playing ends, under an
    // alias of its own, so that it starts at the very sample where the other ends.
    static constexpr int kCueAheadMilliseconds = 5000;
    static const QString kCuedMusicAlias;
    static constexpr std::chrono::milliseconds kNextTrackFade{300};
    // When the music changes folder, the file playing ends at most this long after the change,
    // fading out over the last kFolderChangeFade.
    static constexpr std::chrono::seconds kLongestRunOn{180};
    static constexpr std::chrono::seconds kFolderChangeFade{2};
    // With a message every N songs, a stream counts as one song every this long it plays.
    static constexpr std::chrono::seconds kStreamSong{240};

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
        // The index of the music file to follow the one selected in the list; none: the next
        // name, after the last the first.
        std::function<int(const MediaList&)> nextMusic = {};
        // A music file began to play; it is the one selected in the list.
        std::function<void(const MediaList&)> musicStarted = {};
    };

    // How a message's play ended; a timed message not played at its time is missed.
    enum class Outcome { Played, CutShort, Failed, Missed };
    struct MessagePlay {
        QDateTime start;
        QByteArray path;
        qint64 lengthMs = 0;  // 0 when not known
        Outcome outcome = Outcome::Played;
    };

    // What the music channel does.
    enum class Music { Idle, Playing, Crossfading, Skipping };
    // What the message channel does. Due: the music is down, or on its way down, for a message
    // that starts at the next chance; Ducking: the music fades down before the chosen one starts.
    enum class Message { Idle, Due, Ducking, Playing };
    // Closing: the last fade before closed.
    enum class Day { Open, Closing, Closed, Stopped };

    Scheduler(Inputs inputs, MediaList& music, MediaList& messages, QObject* parent = nullptr);

    // What the media service tells, from the event loop.
    void OnNotice(const QString& alias, Mod_MCI::MciNotice notice);

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
    bool Closed() const { return day_ == Day::Closing || day_ == Day::Closed; }
    // A message outside the rotation, at once with the music ducked; after the message playing, if
    // any, with the music kept down. Several follow one another in the order given. False when
    // nothing can play now (closed, paused, stopped).
    bool PlayTimed(const QByteArray& path);
    // The same for a message asked for by hand: `path`, or the next of the rotation when empty.
    // The interval counts afresh from it.
    bool PlayMessageNow(const QByteArray& path = {});
    // The next music file, after a short fade of the one playing.
    void NextTrack();
    // The music comes from `folder` from the next file on, the first of its order. The file
    // playing plays to its end, or to `longestRunOn` from now; a file cued to follow it is cued
    // again from the new folder.
    void ChangeMusicFolder(const QString& folder,
                           std::chrono::milliseconds longestRunOn = kLongestRunOn);
    // Music and message hold where they are, a fade included, and carry on from there; nothing is
    // counted or started meanwhile.
    void Pause();
    void Resume();
    bool Paused() const { return paused_; }
    // The levels were set anew: they are heard at once, or the full level is reached over `over`
    // when the music is up. A fade running ends at the new level when it heads to the one that
    // changed, rather than jumping back to the old one at its next step.
    void LevelsChanged(std::chrono::milliseconds over = {});
    // The file playing (or paused) on a channel; empty when none.
    QByteArray Playing(int channel) const { return playing_[channel]; }
    // A file that failed to play, until it plays.
    bool Unplayable(const QByteArray& path) const { return unplayable_.count(path) != 0; }
    // How far into its file a channel is, in milliseconds; -1 when it cannot be told.
    qint64 PositionMs(int channel) const;
    // Ticks until the rotation's next message; none when the interval does not time it.
    std::optional<int> SecondsToNextMessage() const;
    // For shutdown: a running fade ends without another command, and nothing is started again. A
    // message still playing is reported cut short.
    void Stop();

    bool Fading() const { return fader_.Running(); }
    qint16 MessageTicks() const { return messageTicks_; }
    Music MusicState() const { return music_; }
    Message MessageState() const { return message_; }

signals:
    void StatusChanged(int channel, const QString& mode);
    void VolumeShown(qint32 volume);
    // A file started on the channel, or the one there ended.
    void PlayingChanged(int channel);
    void PausedChanged(bool paused);
    // Once for every message started, when its play has ended one way or another.
    void MessageFinished(const Scheduler::MessagePlay& play);

private:
    // A message waiting for the message channel; the rotation's fade down starts from the full
    // level, a timed one's from where the music is.
    struct Waiting {
        QByteArray path;
        bool rotation = false;
    };

    // The tick and the channels' ends (Scheduler.cpp).
    Channel::Mode ReadMode(int channel);
    void CountTick(bool messagePlaying);
    bool AfterMessage();
    QByteArray NextFileOf(int index);
    void OnDeviceStopped(const QString& alias);
    void SetPlaying(int channel, const QByteArray& path);
    bool OpenAndPlay(int index, const QByteArray& path, int level);

    // The music channel (SchedulerMusic.cpp).
    int NewMusicLevel() const;
    void Skip(std::chrono::milliseconds fade);
    void SkipDone();
    int NextMusicIndex() const;
    void RunOnOver();
    void CueBeforeTheEnd(qint64 playedMs = 0);
    void CueNextMusic();
    void OnMusicAdvanced(bool crossfading);
    void OnCrossfadeOver();
    void ForgetCuedMusic();
    int CrossfadeMilliseconds() const;
    int EverySongs() const;
    void MusicStarted();
    void SongCounted();
    bool MusicIsStream() const;
    void CountStreamTick();
    void SongEnding();

    // The message channel and the music's level around it (SchedulerMessages.cpp).
    void Queue(Waiting waiting);
    bool StartWaitingMessage();
    int DuckFrom(bool rotation);
    void Duck(int from, Fader::Done then);
    void Rise(Fader::Done then);
    void SetMusicLevel(int level);
    bool MusicBelowHigh() const;
    bool MusicDown() const { return message_ != Message::Idle; }
    void OpenMessage();
    void FinishMessage(Outcome outcome);
    void FinishStoppedMessage();
    void FinishPlayingMessage();

    // The day: pause, closing, the end (SchedulerDay.cpp).
    void FinishClose();
    void StopSongTimers();

    Inputs inputs_;
    std::array<MediaList*, 2> lists_;
    std::array<Channel, 2> channels_;
    Channel cued_;
    Fader fader_;

    Music music_ = Music::Idle;
    Message message_ = Message::Idle;
    Day day_ = Day::Open;
    bool paused_ = false;

    // Timed by the music's end: the next file's cue and, every N songs, the fade down that the
    // message after it starts under. Pause, closing and the end stop them both.
    QTimer cueTimer_;
    QTimer songEndTimer_;
    QByteArray cuedName_;  // the music file cued, as its list has it
    // The end of a file left from the folder before: its time left while paused.
    QTimer runOnTimer_;
    std::optional<std::chrono::milliseconds> runOnLeft_;

    std::deque<Waiting> waiting_;
    QByteArray starting_;                // the message that starts once the music is down
    std::optional<MessagePlay> report_;  // the message playing, until its end is reported
    bool reportMessages_ = false;

    qint32 parentWindow_ = 0;
    qint16 messageTicks_ = 0;
    int musicStarts_ = 0;  // since the last tick
    int streamTicks_ = 0;  // the stream playing has played this long since it last counted
    // Every N songs: music files ended since the last message; -1 until the first file after the
    // opening starts, which ends none.
    int songsEnded_ = -1;
    std::set<QByteArray> unplayable_;  // files warned of, until they play
    std::array<QByteArray, 2> playing_;
};
