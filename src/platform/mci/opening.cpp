#include <algorithm>
#include <limits>

#include "platform/mci/gstdevices.h"
#include "platform/mci/log.h"

// Getting a file ready to play: built into the output once that plays, held at its first sample,
// then, for a file trimmed of its silent ends, at the first sample of its sound. A command waits
// for that only a little; the rest goes on from the event loop, moved on by the events the
// output's bus brings, and bounded.
namespace Platform::Mci {

bool GstDevices::Advance(Opening& opening, Device& device) {
    if (device.Failed() || output_ == nullptr || !output_->Started()) {
        return false;
    }
    if (!opening.built) {
        opening.built = true;
        if (!device.Build(opening.uri, opening.gain)) {
            opening.missingElement = true;  // told by the command, or by a notice later
            device.MarkFailed();
            return false;
        }
    }
    if (!device.Prerolled()) {
        return false;
    }
    if (opening.sound && !opening.sought) {
        opening.sought = true;
        device.Seek(opening.sound->first, opening.sound->second);
        return false;
    }
    if (opening.sound) {
        device.Trim(opening.sound->first, opening.sound->second);
    }
    return true;
}

bool GstDevices::WaitUntilReady(Opening& opening, Device& device) {
    const QDeadlineTimer bound(waitOnLoop_);
    bool ready = Advance(opening, device);
    while (!ready && !device.Failed() && output_ != nullptr && !bound.hasExpired()) {
        GstMessage* message = gst_bus_timed_pop(
            output_->Bus(), static_cast<GstClockTime>(bound.remainingTimeNSecs()));
        if (message != nullptr) {
            OnMessage(message);
            gst_message_unref(message);
        }
        ready = Advance(opening, device);
    }
    Poll();  // what came with it, an error of the same file say, or what it waited for
    return (ready || Advance(opening, device)) && !device.Failed();
}

bool GstDevices::WaitUntilPrerolled(Device& device) {
    Opening sought{.id = device.Id(), .built = true};
    return WaitUntilReady(sought, device);
}

GstDevices::Opening* GstDevices::OpeningOf(const Device& device) {
    const auto found = std::find_if(openings_.begin(), openings_.end(),
                                    [&device](const Opening& o) { return o.id == device.Id(); });
    return found == openings_.end() ? nullptr : &*found;
}

void GstDevices::AdvanceOpenings() {
    // Taken out first: a device that fails or starts here may post, but never opens another.
    std::vector<Opening> waiting = std::exchange(openings_, {});
    for (Opening& opening : waiting) {
        Device* device = FindId(opening.id);
        if (device == nullptr) {
            continue;  // closed meanwhile
        }
        if (Advance(opening, *device)) {
            if (opening.play && StartPlaying(*device) != kNoError) {
                PostNotice(device->Alias(), Notice::Failed);
            }
        } else if (opening.missingElement) {
            PostNotice(device->Alias(), Notice::Failed);
        } else if (!device->Failed() && opening.deadline.hasExpired()) {
            if (device->Live()) {
                StreamDown(*device,
                           "no sound within " + std::to_string(kStreamPatience.count()) + " s");
            } else {
                qCWarning(lcMedia, "%s: %s: not ready to play within %lld ms (%s)",
                          device->Alias().c_str(), device->File().c_str(),
                          static_cast<long long>(readyWithin_.count()), device->Progress().c_str());
            }
            Fail(*device, nullptr);
        } else if (!device->Failed()) {
            openings_.push_back(std::move(opening));
        }
    }
    ArmOpeningTimer();
}

void GstDevices::ArmOpeningTimer() {
    if (openings_.empty()) {
        openingTimer_.stop();
        return;
    }
    qint64 soonest = std::numeric_limits<qint64>::max();
    for (const Opening& opening : openings_) {
        soonest = std::min(soonest, opening.deadline.remainingTime());
    }
    openingTimer_.start(static_cast<int>(std::max<qint64>(soonest, 0) + 1));
}

}  // namespace Platform::Mci
