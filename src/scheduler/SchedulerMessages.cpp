#include <algorithm>

#include "scheduler/MediaList.h"
#include "scheduler/Scheduler.h"

// The message channel, and the music's level around it: down before a message starts, up again
// after the last one.

bool Scheduler::PlayTimed(const QByteArray& path) {
    if (day_ != Day::Open || paused_) {
        return false;
    }
    Queue({path, false});
    return true;
}

bool Scheduler::PlayMessageNow(const QByteArray& path) {
    if (day_ != Day::Open || paused_) {
        return false;
    }
    const QByteArray file = path.isEmpty() ? NextFileOf(kMessages) : path;
    if (file.isEmpty()) {
        return false;
    }
    messageTicks_ = 0;
    songsEnded_ = std::min(songsEnded_, 0);
    return PlayTimed(file);
}

void Scheduler::Queue(Waiting waiting) {
    waiting_.push_back(std::move(waiting));
    StartWaitingMessage();
}

// The next message waiting, when the message channel is free and the music may go down: not
// while two music files crossfade, nor while Next Track fades one out. True when one starts.
bool Scheduler::StartWaitingMessage() {
    if (waiting_.empty() || day_ != Day::Open || paused_ || music_ == Music::Crossfading ||
        music_ == Music::Skipping || message_ == Message::Ducking || message_ == Message::Playing) {
        return false;
    }
    const Waiting next = waiting_.front();
    waiting_.pop_front();
    songEndTimer_.stop();
    const int from = DuckFrom(next.rotation);
    message_ = Message::Ducking;
    starting_ = next.path;
    Duck(from, [this] { OpenMessage(); });
    return true;
}

// Where the music fades down from: the level the fader has reached, or low when it is down
// already. Otherwise the full level for the rotation, and for any other message the level the
// music has, within the two.
int Scheduler::DuckFrom(bool rotation) {
    const int low = inputs_.musicLow();
    const int high = inputs_.musicHigh();
    if (fader_.Running()) {
        return fader_.Level();
    }
    if (message_ == Message::Due) {
        return low;
    }
    return rotation ? high : std::clamp(channels_[kMusic].Volume(), std::min(low, high), high);
}

// Fades the music down to its low level, then runs `then`: at once when it is down already, or
// when the low level is above the one it starts from.
void Scheduler::Duck(int from, Fader::Done then) {
    const int low = inputs_.musicLow();
    if (from <= low && !fader_.Running()) {
        if (then) {
            then();
        }
        return;
    }
    fader_.ByUnits(
        from, low, [this](int level) { SetMusicLevel(level); }, std::move(then));
}

// Up from the low level, not from the level the music has. No step at all when the low level is
// above the full one.
void Scheduler::Rise(Fader::Done then) {
    const int low = inputs_.musicLow();
    const int high = inputs_.musicHigh();
    if (low > high) {
        if (then) {
            then();
        }
        return;
    }
    fader_.ByUnits(
        low, high, [this](int level) { SetMusicLevel(level); }, std::move(then));
}

// Each step of a fade is shown as it is set.
void Scheduler::SetMusicLevel(int level) {
    channels_[kMusic].SetVolume(level);
    ShowVolume();
}

// A level that cannot be read counts as below: the rise then runs whole.
bool Scheduler::MusicBelowHigh() const {
    return channels_[kMusic].Volume() < inputs_.musicHigh();
}

void Scheduler::OpenMessage() {
    const QByteArray path = std::exchange(starting_, {});
    message_ =
        OpenAndPlay(kMessages, path, inputs_.messageLevel()) ? Message::Playing : Message::Idle;
}

// The message channel has stopped by itself: it played to its end, or its device failed.
void Scheduler::FinishStoppedMessage() {
    if (report_) {
        FinishMessage(channels_[kMessages].Failed() ? Outcome::Failed : Outcome::Played);
    }
}

// Ended from here, by closing time or the end: cut short while it still plays or is held.
void Scheduler::FinishPlayingMessage() {
    if (report_) {
        const Channel::Mode mode = ReadMode(kMessages);
        if (mode == Channel::Mode::Playing || mode == Channel::Mode::Paused) {
            FinishMessage(Outcome::CutShort);
        } else {
            FinishStoppedMessage();
        }
    }
}

void Scheduler::FinishMessage(Outcome outcome) {
    if (std::optional<MessagePlay> play = std::exchange(report_, std::nullopt)) {
        play->outcome = outcome;
        emit MessageFinished(*play);
    }
}
