#include "scheduler/Fader.h"

#include <cstdlib>
#include <utility>

Fader::Fader(QObject* parent) : QObject(parent) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kStep);
    connect(&timer_, &QTimer::timeout, this, &Fader::Step);
}

void Fader::ByUnits(int from, int to, Apply apply, Done done) {
    Begin(from, to, std::abs(to - from), true, std::move(apply), std::move(done));
    const Apply step = apply_;
    step(level_);
}

void Fader::Over(int from, int to, std::chrono::milliseconds length, Apply apply, Done done) {
    const int steps = std::max<int>(1, static_cast<int>(length / kStep));
    Begin(from, to, steps, false, std::move(apply), std::move(done));
}

void Fader::Begin(int from, int to, int steps, bool byUnits, Apply apply, Done done) {
    apply_ = std::move(apply);
    done_ = std::move(done);
    from_ = from;
    to_ = to;
    level_ = from;
    steps_ = steps;
    step_ = 0;
    byUnits_ = byUnits;
    running_ = true;
    held_ = false;
    timer_.start();
}

// Straight from `from_` to `to_`; rounded towards `from_`, so that a fade by units moves exactly
// one unit a step.
int Fader::LevelAt(int step) const {
    return steps_ == 0 ? to_ : to_ + (from_ - to_) * (steps_ - step) / steps_;
}

void Fader::Retarget(int to) {
    if (!running_ || to == to_) {
        return;
    }
    const int left = steps_ - step_;
    from_ = level_;
    to_ = to;
    steps_ = byUnits_ ? std::abs(to - level_) : std::max(left, 1);
    step_ = 0;
}

void Fader::Hold() {
    if (running_ && !held_) {
        held_ = true;
        timer_.stop();
    }
}

void Fader::Release() {
    if (running_ && held_) {
        held_ = false;
        timer_.start();
    }
}

void Fader::Cancel() {
    timer_.stop();
    running_ = held_ = false;
    apply_ = {};
    done_ = {};
}

void Fader::Step() {
    if (step_ >= steps_) {
        timer_.stop();
        running_ = false;
        apply_ = {};
        // Last, since `done` may well start the next fade.
        if (const Done done = std::exchange(done_, {})) {
            done();
        }
        return;
    }
    level_ = LevelAt(++step_);
    // A copy: what a step sets off (a pause, the end) may cancel the fade and drop apply_.
    const Apply step = apply_;
    step(level_);
}
