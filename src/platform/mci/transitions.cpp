#include <algorithm>

#include "platform/mci/gstdevices.h"

// From one file to the next on a channel: a cue that takes over at the sample where the other
// ends, a crossfade, and an end reported once it is heard.
namespace Platform::Mci {

MciError GstDevices::Cue(Device& device, const Command& command) {
    Device* leader = Find(command.after);
    if (leader == nullptr) {
        return kErrDeviceNotOpen;
    }
    if (leader == &device || device.Failed() || device.Attached() || OpeningOf(device) != nullptr ||
        !leader->Playing() || !leader->Leads()) {
        return kErrCannotPlay;
    }
    // Not ready in time for a cue (a slow disk): its owner plays it when the other one ends.
    if (device.NeedsSeekTo(device.TrimStart())) {
        device.Seek(device.TrimStart(), device.TrimEnd());
        if (!WaitUntilPrerolled(device)) {
            return device.Failed() ? kErrDeviceFailed : kErrOpenTimeout;
        }
    }
    if (device.Empty()) {
        return kErrCannotPlay;
    }
    if (command.overlap > 0) {
        return CueOverlapping(device, *leader, command.overlap);
    }
    return device.Follow(*leader) ? kNoError : kErrCannotPlay;
}

// The device starts on a strip of its own `overlapMs` before the leader's file ends, or as soon
// as it can when that is sooner, and never for more than half its own length. A leader of unknown
// length is followed without a crossfade.
MciError GstDevices::CueOverlapping(Device& device, Device& leader, std::int64_t overlapMs) {
    if (std::any_of(crossfades_.begin(), crossfades_.end(),
                    [&leader](const Crossfade& c) { return c.from == leader.Id(); })) {
        return kErrCannotPlay;
    }
    // The leader falls only once it has risen, if it came in by a crossfade itself.
    const GstClockTime earliest = std::max(StartTime(), leader.RisenAt());
    const GstClockTime end = leader.MixTimeOf(leader.Duration());
    constexpr std::int64_t kLongest = 60'000;
    GstClockTime length = static_cast<GstClockTime>(std::min(overlapMs, kLongest)) * GST_MSECOND;
    if (device.Duration() > device.TrimStart()) {
        length =
            std::min(length, static_cast<GstClockTime>(device.Duration() - device.TrimStart()) / 2);
    }
    if (!GST_CLOCK_TIME_IS_VALID(end) || end <= earliest + kLevelRamp || length == 0) {
        return device.Follow(leader) ? kNoError : kErrCannotPlay;  // too late to overlap
    }
    length = std::min(length, end - earliest);
    const GstClockTime at = end - length;
    device.CopyVolume(leader);
    if (!device.Attach(at)) {
        device.Detach();
        return kErrDeviceFailed;
    }
    device.SetEnvelope(at, length, true);
    device.RisesUntil(end);
    leader.SetEnvelope(at, length, false);
    crossfades_.push_back(Crossfade{leader.Id(), device.Id(), device.StripId(), at, false});
    FinishHeardEnds();  // looked at again when it begins
    return kNoError;
}

// Begins the crossfades that are heard to begin, ends those whose outgoing file has played out,
// and calls off those whose devices were stopped meanwhile. The mix time the next one is due at.
GstClockTime GstDevices::AdvanceCrossfades() {
    const GstClockTime now = output_->Now();
    const GstClockTime latency = output_->Latency();
    const auto heard = [&](GstClockTime at) {
        return GST_CLOCK_TIME_IS_VALID(at) && at + latency <= now;
    };
    GstClockTime next = GST_CLOCK_TIME_NONE;
    for (auto c = crossfades_.begin(); c != crossfades_.end();) {
        Device* from = FindId(c->from);
        Device* to = FindId(c->to);
        const bool toIntact = to != nullptr && to->StripId() == c->toStrip && !Fading(*to);
        if (!c->begun) {
            if (from == nullptr || !from->Playing() || !from->Leads() || Fading(*from) ||
                !toIntact) {
                if (toIntact) {
                    to->Detach();  // held again, to play when it is told to
                }
                if (from != nullptr) {
                    from->ClearEnvelope(c->at);
                }
                c = crossfades_.erase(c);
                continue;
            }
            if (!heard(c->at) && !heard(from->EndAt())) {
                next = std::min(next, c->at + latency);
                ++c;
                continue;
            }
            c->begun = true;
            BeginCrossfade(*from, *to);
        }
        if (from == nullptr || !toIntact || !to->Playing() || !from->Playing() ||
            heard(from->EndAt())) {
            fading_.erase(std::remove_if(fading_.begin(), fading_.end(),
                                         [from](const DevicePtr& d) { return d.get() == from; }),
                          fading_.end());
            if (to != nullptr && to->StripId() == c->toStrip) {
                PostNotice(to->Alias(), Notice::Crossfaded);
            }
            c = crossfades_.erase(c);
            continue;
        }
        if (GST_CLOCK_TIME_IS_VALID(from->EndAt())) {
            next = std::min(next, from->EndAt() + latency);
        }
        ++c;
    }
    return next;
}

// The incoming device takes the alias, its level and its balance; the outgoing one plays out.
void GstDevices::BeginCrossfade(Device& leader, Device& follower) {
    follower.TakeAliasOf(leader);
    fading_.push_back(TakeAlias(follower));
    PostNotice(follower.Alias(), Notice::Crossfading);
}

// The device cued after `leader` plays from the sample where the leader's file ended, under the
// leader's alias, with its level; the leader goes.
void GstDevices::TakeOver(Device& leader) {
    Device* follower = FindBy([&leader](const Device& d) { return d.Follows(leader); });
    if (follower == nullptr) {
        return;
    }
    follower->TakeOver(leader, leader.EndAt());
    TakeAlias(*follower);
    PostNotice(follower->Alias(), Notice::Advanced);
}

// Files `device` under its alias now, and hands back the device that had it.
GstDevices::DevicePtr GstDevices::TakeAlias(Device& device) {
    const auto entry = std::find_if(devices_.begin(), devices_.end(),
                                    [&device](const auto& e) { return e.second.get() == &device; });
    DevicePtr moved = std::move(entry->second);
    devices_.erase(entry);
    DevicePtr& slot = devices_[Lower(device.Alias())];
    DevicePtr previous = std::move(slot);
    slot = std::move(moved);
    return previous;
}

// An end is reported once it is heard: the music comes back up only after a message's last word.
void GstDevices::FinishHeardEnds() {
    if (output_ == nullptr || !output_->Started()) {
        return;
    }
    const GstClockTime crossfadeDue =
        crossfades_.empty() ? GST_CLOCK_TIME_NONE : AdvanceCrossfades();
    const GstClockTime now = output_->Now();
    GstClockTime next = GST_CLOCK_TIME_IS_VALID(crossfadeDue)
                            ? (crossfadeDue > now ? crossfadeDue - now : 0)
                            : GST_CLOCK_TIME_NONE;
    for (const auto& [key, device] : devices_) {
        if (!device->Playing() || !GST_CLOCK_TIME_IS_VALID(device->EndAt())) {
            continue;
        }
        const GstClockTime heardAt = device->EndAt() + output_->Latency();
        if (heardAt <= now && device->Live()) {
            StreamDown(*device, "the station ended it");  // a stream has no end of its own
            Fail(*device, nullptr);
        } else if (heardAt <= now) {
            device->DetachAt(Heard());
            device->SetMode(Device::Mode::Stopped);
            PostNotice(device->Alias(), Notice::Ended);
        } else {
            next = std::min(next, heardAt - now);
        }
    }
    // Looked at again when the next end is heard. The card's clock moves in periods and the
    // latency may grow meanwhile, so a look that came too early is followed by another.
    if (GST_CLOCK_TIME_IS_VALID(next)) {
        const int ms = static_cast<int>(std::max<GstClockTime>(next / GST_MSECOND, 1) + 1);
        if (!endTimer_.isActive() || endTimer_.remainingTime() > ms) {
            endTimer_.start(ms);
        }
    }
}

}  // namespace Platform::Mci
