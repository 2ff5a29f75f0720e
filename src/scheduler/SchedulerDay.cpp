#include <algorithm>

#include "scheduler/Scheduler.h"

// What the day and the user do to everything at once: the levels set anew, pause, closing time
// and the end.

void Scheduler::LevelsChanged(std::chrono::milliseconds over) {
    if (day_ != Day::Open) {
        return;
    }
    const bool messageHeld = channels_[kMessages].Holds();
    if (fader_.Running() && music_ != Music::Skipping) {
        // A duck heads to the low level, a rise to the full one.
        fader_.Retarget(MusicDown() ? inputs_.musicLow() : inputs_.musicHigh());
    } else if (!fader_.Running()) {
        const bool down = MusicDown() || messageHeld;
        // From a level that cannot be read, at once: a fade from it would dip.
        const int from = channels_[kMusic].Volume();
        if (!down && !paused_ && over >= Fader::kStep && music_ != Music::Idle && from >= 0) {
            fader_.Over(from, inputs_.musicHigh(), over,
                        [this](int level) { SetMusicLevel(level); }, {});
        } else {
            channels_[kMusic].SetVolume(down ? inputs_.musicLow() : inputs_.musicHigh());
        }
    }
    if (messageHeld) {
        channels_[kMessages].SetVolume(inputs_.messageLevel());
    }
    ShowVolume();
}

void Scheduler::Pause() {
    if (day_ == Day::Stopped || paused_) {
        return;
    }
    if (day_ == Day::Closing) {
        FinishClose();
    }
    paused_ = true;
    fader_.Hold();
    if (runOnTimer_.isActive()) {
        runOnLeft_ = runOnTimer_.remainingTimeAsDuration();
        runOnTimer_.stop();
    }
    // Cued again from where the music is when it carries on.
    ForgetCuedMusic();
    songEndTimer_.stop();
    if (day_ == Day::Open) {
        for (const int channel : {kMusic, kMessages}) {
            channels_[channel].Pause();
            ReadMode(channel);
        }
    }
    emit PausedChanged(true);
}

void Scheduler::Resume() {
    if (day_ == Day::Stopped || !paused_) {
        return;
    }
    paused_ = false;
    if (day_ == Day::Open) {
        for (const int channel : {kMusic, kMessages}) {
            channels_[channel].Resume();
        }
        fader_.Release();
        if (runOnLeft_) {
            runOnTimer_.start(*std::exchange(runOnLeft_, std::nullopt));
        }
        if (ReadMode(kMusic) == Channel::Mode::Playing) {
            CueBeforeTheEnd(std::max<qint64>(0, channels_[kMusic].PositionMs()));
        } else if (music_ != Music::Skipping) {
            musicStarts_ = 0;
            StartMusic();
        }
        ReadMode(kMessages);
        StartWaitingMessage();
    }
    emit PausedChanged(false);
}

void Scheduler::StopSongTimers() {
    ForgetCuedMusic();
    songEndTimer_.stop();
    runOnTimer_.stop();
    runOnLeft_.reset();
}

void Scheduler::Close(std::chrono::milliseconds fade) {
    if (day_ != Day::Open) {
        return;
    }
    day_ = Day::Closing;
    StopSongTimers();
    waiting_.clear();
    starting_.clear();
    if (message_ != Message::Playing) {
        message_ = Message::Idle;
    }
    music_ = Music::Idle;
    const std::array<int, 2> from{std::max(0, channels_[kMusic].Volume()),
                                  std::max(0, channels_[kMessages].Volume())};
    const bool sounding =
        ReadMode(kMusic) == Channel::Mode::Playing || ReadMode(kMessages) == Channel::Mode::Playing;
    if (fade < Fader::kStep || !sounding) {
        fader_.Cancel();
        FinishClose();
        return;
    }
    // Both channels together, each from where it is, as shares of a hundred.
    constexpr int kWhole = 100;
    fader_.Over(
        kWhole, 0, fade,
        [this, from](int share) {
            for (const int channel : {kMusic, kMessages}) {
                channels_[channel].SetVolume(from[channel] * share / kWhole);
            }
        },
        [this] { FinishClose(); });
}

void Scheduler::FinishClose() {
    fader_.Cancel();
    FinishPlayingMessage();
    day_ = Day::Closed;
    music_ = Music::Idle;
    message_ = Message::Idle;
    cuedName_.clear();
    Mod_MCI::MciCloseAll();
    SetPlaying(kMusic, {});
    SetPlaying(kMessages, {});
    ReadMode(kMusic);
    ReadMode(kMessages);
}

void Scheduler::Open() {
    if (day_ != Day::Closing && day_ != Day::Closed) {
        return;
    }
    if (day_ == Day::Closing) {
        FinishClose();
    }
    day_ = Day::Open;
    songsEnded_ = -1;
    musicStarts_ = 0;
    if (!paused_) {
        StartMusic();
    }
}

void Scheduler::Stop() {
    if (day_ == Day::Stopped) {
        return;
    }
    FinishPlayingMessage();
    day_ = Day::Stopped;
    fader_.Cancel();
    // No command more: what is open is closed by the caller.
    cueTimer_.stop();
    songEndTimer_.stop();
    runOnTimer_.stop();
    waiting_.clear();
    starting_.clear();
    message_ = Message::Idle;
}
