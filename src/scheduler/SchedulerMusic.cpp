#include <QFile>
#include <QLoggingCategory>
#include <algorithm>

#include "platform/mci/playlist.h"
#include "scheduler/MediaList.h"
#include "scheduler/Scheduler.h"

// The music channel: the next file, its cue before the one playing ends, Next Track, and the
// message every N songs, which hangs on the music's ends.

Q_DECLARE_LOGGING_CATEGORY(lcPlayback)

void Scheduler::StartMusic() {
    while (day_ == Day::Open && musicStarts_ < std::max(1, lists_[kMusic]->ListCount())) {
        ++musicStarts_;
        if (PlayNextFile(kMusic)) {
            return;
        }
        if (lists_[kMusic]->ListCount() == 0) {
            break;
        }
    }
    music_ = Music::Idle;
    SetPlaying(kMusic, {});  // each file tried was closed first
}

// Music that starts while the fader moves the music joins it at its level instead of jumping;
// music that a message is about to play over starts down, and so does the file after one skipped
// under a message. A file that follows one that ended under a message starts full: the rise after
// a message is for music that went down for it.
int Scheduler::NewMusicLevel() const {
    if (fader_.Running() && day_ == Day::Open) {
        return fader_.Level();
    }
    const bool down = message_ == Message::Due || message_ == Message::Ducking ||
                      (message_ == Message::Playing && music_ == Music::Skipping);
    return down ? inputs_.musicLow() : inputs_.musicHigh();
}

void Scheduler::NextTrack() {
    Skip(kNextTrackFade);
}

void Scheduler::Skip(std::chrono::milliseconds fade) {
    if (day_ != Day::Open || paused_ || music_ == Music::Skipping) {
        return;
    }
    if (ReadMode(kMusic) != Channel::Mode::Playing) {
        musicStarts_ = 0;
        StartMusic();
        return;
    }
    ForgetCuedMusic();
    music_ = Music::Skipping;
    // Takes the fader from a duck under way: the next file starts down, and the message at once.
    fader_.Over(
        channels_[kMusic].Volume(), 0, fade, [this](int level) { SetMusicLevel(level); },
        [this] { SkipDone(); });
}

void Scheduler::ChangeMusicFolder(const QString& folder, std::chrono::milliseconds longestRunOn) {
    MediaList& list = *lists_[kMusic];
    if (list.Path() == folder) {
        return;
    }
    list.SetPath(folder);
    runOnTimer_.stop();
    runOnLeft_.reset();
    if (day_ != Day::Open || (music_ != Music::Playing && music_ != Music::Crossfading)) {
        return;
    }
    const bool cued = !cuedName_.isEmpty();
    ForgetCuedMusic();
    // A file of unknown length, such as a stream, would run on for ever.
    const qint64 lengthMs = channels_[kMusic].LengthMs();
    const qint64 positionMs = channels_[kMusic].PositionMs();
    if (lengthMs <= 0 || positionMs < 0 || lengthMs - positionMs > longestRunOn.count()) {
        const auto left = std::max(std::chrono::milliseconds{0}, longestRunOn - kFolderChangeFade);
        if (paused_) {
            runOnLeft_ = left;
        } else {
            runOnTimer_.start(left);
        }
    } else if (cued) {
        CueNextMusic();
    } else if (!paused_) {
        CueBeforeTheEnd(std::max<qint64>(0, positionMs));
    }
}

void Scheduler::RunOnOver() {
    runOnLeft_.reset();
    Skip(kFolderChangeFade);
}

int Scheduler::NextMusicIndex() const {
    const MediaList& list = *lists_[kMusic];
    if (inputs_.nextMusic) {
        const int index = inputs_.nextMusic(list);
        if (index >= 0 && index < list.ListCount()) {
            return index;
        }
    }
    return list.ListIndex() + 1 >= list.ListCount() ? 0 : list.ListIndex() + 1;
}

// Still skipping while the next file starts, so that it starts down under a message.
void Scheduler::SkipDone() {
    if (message_ == Message::Ducking) {
        OpenMessage();
    } else if (!waiting_.empty() && message_ == Message::Idle) {
        message_ = Message::Due;
    }
    musicStarts_ = 0;
    StartMusic();
    StartWaitingMessage();
}

// The next file of the list, opened and cued to follow the music playing. One that cannot be
// opened is left to the end of the music, which starts the files after it as always.
// A file that runs on into a new folder is ended by its fade, not by a crossfade after its time.
void Scheduler::CueNextMusic() {
    if (day_ != Day::Open || !cuedName_.isEmpty() || !channels_[kMusic].Playing() ||
        runOnTimer_.isActive() || runOnLeft_) {
        return;
    }
    RefreshFileLists();
    const MediaList& list = *lists_[kMusic];
    if (list.ListCount() == 0) {
        return;
    }
    const QByteArray name = list.ListBytes(NextMusicIndex());
    const QByteArray path = QFile::encodeName(list.Path()) + '/' + name;
    if (cued_.Open(parentWindow_, path).isEmpty() &&
        cued_.Follow(channels_[kMusic], CrossfadeMilliseconds())) {
        cuedName_ = name;
        return;
    }
    cued_.Close();
}

// The cued file took over the music at the sample where the last one ended, or as a crossfade
// into it began.
void Scheduler::OnMusicAdvanced(bool crossfading) {
    if (day_ != Day::Open || cuedName_.isEmpty()) {
        return;
    }
    const QByteArray name = std::exchange(cuedName_, {});
    // Before anyone hears of the new file: a message waits for the crossfade's end.
    music_ = crossfading ? Music::Crossfading : Music::Playing;
    RefreshFileLists();
    MediaList& list = *lists_[kMusic];
    list.SetListIndex(list.Find(name));
    const QByteArray path = QFile::encodeName(list.Path()) + '/' + name;
    unplayable_.erase(path);
    qCInfo(lcPlayback, "%s: %s started", qPrintable(ChannelAlias(kMusic)), path.constData());
    SetPlaying(kMusic, path);
    MusicStarted();
    CueBeforeTheEnd();
}

void Scheduler::OnCrossfadeOver() {
    if (music_ == Music::Crossfading) {
        music_ = Music::Playing;
        StartWaitingMessage();
    }
}

int Scheduler::CrossfadeMilliseconds() const {
    return inputs_.crossfade ? std::max(0, inputs_.crossfade()) * 1000 : 0;
}

int Scheduler::EverySongs() const {
    return inputs_.everySongs ? std::max(0, inputs_.everySongs()) : 0;
}

bool Scheduler::MusicIsStream() const {
    return Platform::Mci::Playlist::IsPlaylist(playing_[kMusic].toStdString());
}

// A stream has no end to cue the next file before: it plays until it fails or is skipped.
void Scheduler::CueBeforeTheEnd(qint64 playedMs) {
    if (MusicIsStream()) {
        cueTimer_.stop();
        songEndTimer_.stop();
        return;
    }
    const qint64 lengthMs = channels_[kMusic].LengthMs() - playedMs;
    const qint64 ahead = kCueAheadMilliseconds + CrossfadeMilliseconds();
    cueTimer_.start(std::chrono::milliseconds(std::max<qint64>(0, lengthMs - ahead)));
    // The file a message follows fades down as it ends, so that the next one starts under it.
    songEndTimer_.stop();
    if (EverySongs() > 0 && songsEnded_ + 1 >= EverySongs() && lengthMs > 0) {
        const auto fade = Fader::kStep * std::max(0, inputs_.musicHigh() - inputs_.musicLow());
        songEndTimer_.start(std::chrono::milliseconds(
            std::max<qint64>(0, lengthMs - CrossfadeMilliseconds() - fade.count())));
    }
}

void Scheduler::ForgetCuedMusic() {
    cueTimer_.stop();
    if (!std::exchange(cuedName_, {}).isEmpty()) {
        cued_.Close();
    }
}

// A music file began: the one before it has ended, which may be the one a message follows.
void Scheduler::MusicStarted() {
    runOnTimer_.stop();
    runOnLeft_.reset();
    streamTicks_ = 0;
    if (inputs_.musicStarted) {
        inputs_.musicStarted(*lists_[kMusic]);
    }
    SongCounted();
}

// A stream counts as one song every kStreamSong it plays, so that messages by the song keep
// coming while it plays on.
void Scheduler::CountStreamTick() {
    if (music_ == Music::Playing && MusicIsStream() && ++streamTicks_ >= kStreamSong.count()) {
        streamTicks_ = 0;
        SongCounted();
    }
}

// One more song has ended, or the first after the opening began.
void Scheduler::SongCounted() {
    if (EverySongs() == 0 || songsEnded_ < 0) {
        songsEnded_ = 0;
        if (message_ == Message::Due && waiting_.empty()) {
            message_ = Message::Idle;
        }
        return;
    }
    if (++songsEnded_ >= EverySongs() || (message_ == Message::Due && waiting_.empty())) {
        songsEnded_ = 0;
        if (!PlayNextFile(kMessages) && message_ == Message::Due) {
            message_ = Message::Idle;
        }
    }
}

// The file a message follows is about to end: the music goes down with it, and stays down.
void Scheduler::SongEnding() {
    if (day_ != Day::Open || paused_ || message_ != Message::Idle || !waiting_.empty() ||
        music_ != Music::Playing) {
        return;
    }
    const int from = DuckFrom(true);
    message_ = Message::Due;
    Duck(from, {});
}
