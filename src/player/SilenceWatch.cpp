#include "player/SilenceWatch.h"

#include <algorithm>
#include <utility>

SilenceWatch::Action SilenceWatch::Step(const Reading& reading) {
    const std::optional<Ms> last = std::exchange(lastStep_, reading.now);
    if (reading.seconds <= 0 || !reading.quiet || !reading.expected) {
        expectedSince_.reset();
        return std::exchange(raised_, false) ? Action::Clear : Action::None;
    }
    // Sound since the last look ends a run of alarms.
    if (last && *reading.quiet < reading.now - *last) {
        inRow_ = 0;
        if (std::exchange(raised_, false)) {
            expectedSince_ = reading.now;
            return Action::Clear;
        }
    }
    if (!expectedSince_) {
        expectedSince_ = reading.now;
    }
    if (std::min(*reading.quiet, reading.now - *expectedSince_) < Ms(reading.seconds * 1000)) {
        return Action::None;
    }
    // The next alarm counts from here: the file after this one gets its own time.
    expectedSince_ = reading.now;
    const bool first = !std::exchange(raised_, true);
    if (++inRow_ >= kRestartAfter) {
        inRow_ = 0;
        return Action::Restart;
    }
    return first ? Action::Raise : Action::Repeat;
}
