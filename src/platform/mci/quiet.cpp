#include "platform/mci/quiet.h"

#include <algorithm>
#include <cmath>

namespace Platform::Mci {

void QuietMeter::Add(std::span<const float> samples, gint64 nowNs) {
    // A mean square at or above this is sound: the threshold's level, squared.
    static const double kLeast = std::pow(10.0, kQuietDb / 10.0);
    for (std::size_t i = 0; i + 1 < samples.size(); i += 2) {
        sum_[0] += static_cast<double>(samples[i]) * samples[i];
        sum_[1] += static_cast<double>(samples[i + 1]) * samples[i + 1];
        if (++frames_ < kWindowFrames) {
            continue;
        }
        if (std::max(sum_[0], sum_[1]) / kWindowFrames >= kLeast) {
            soundAt_ = nowNs;
        }
        sum_[0] = sum_[1] = 0;
        frames_ = 0;
    }
}

}  // namespace Platform::Mci
