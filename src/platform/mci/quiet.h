#pragma once

#include <gst/gst.h>

#include <atomic>
#include <span>

namespace Platform::Mci {

// How loud the mix is, for telling dead air from music: the mix is taken in windows of a tenth of
// a second, and a window counts as sound when either side's RMS level reaches kQuietDb (relative
// to full scale: a full-scale sine is at -3 dB). Windows are noted only while asked to, so that
// nothing is counted for nobody. Fed from the mixer's thread, read from any.
class QuietMeter {
public:
    static constexpr double kQuietDb = -50.0;
    static constexpr int kWindowFrames = 4410;  // a tenth of a second of the mix

    void SetOn(bool on) { on_ = on; }
    bool On() const { return on_.load(); }
    // Interleaved stereo samples as they leave the mixer, at the steady time `nowNs`.
    void Add(std::span<const float> samples, gint64 nowNs);
    // The steady time the last window of sound ended at; 0 before the first.
    gint64 SoundAt() const { return soundAt_.load(); }

private:
    std::atomic<bool> on_{false};
    double sum_[2] = {0, 0};
    int frames_ = 0;
    std::atomic<gint64> soundAt_{0};
};

}  // namespace Platform::Mci
