#pragma once

#include <chrono>
#include <optional>

// Dead air: music that should be heard and is not. Fed at every tick with how long the mix has
// been quiet and whether music should be heard now, it tells when to raise the alarm, what to do
// about it, and when it is over. Quiet counts only from when music should be heard: a pause, the
// closed hours or the start before the first file never add to it.
class SilenceWatch {
public:
    using Ms = std::chrono::milliseconds;
    static constexpr int kDefaultSeconds = 30;
    // Alarms in a row, without sound between them, before the output is built anew.
    static constexpr int kRestartAfter = 3;

    enum class Action {
        None,
        Raise,    // the alarm is raised: the next file plays
        Repeat,   // still quiet as long again: the next file again
        Restart,  // quiet through kRestartAfter alarms: the output is built anew
        Clear,    // sound again, or music no longer meant to be heard: the alarm is over
    };
    struct Reading {
        int seconds = 0;          // how long a quiet raises the alarm; 0: never
        bool expected = false;    // music should be heard now
        std::optional<Ms> quiet;  // how long the mix has been quiet; none when not measured
        Ms now{};                 // a steady clock
    };

    Action Step(const Reading& reading);
    bool Raised() const { return raised_; }

private:
    std::optional<Ms> expectedSince_;
    std::optional<Ms> lastStep_;
    bool raised_ = false;
    int inRow_ = 0;
};
