#include <sys/stat.h>

#include <QCoreApplication>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <algorithm>
#include <limits>

#include "platform/files.h"
#include "platform/mci/decoder.h"
#include "platform/mci/gstdevices.h"
#include "platform/mci/playlist.h"

// The commands: what each verb does to a device.
namespace Platform::Mci {

namespace {

constexpr gint64 kNanosPerMillisecond = 1'000'000;
constexpr gint64 kNanosPerFrame = 40 * kNanosPerMillisecond;
constexpr double kMaxFileGain = 10.0;  // +20 dB, as far as the volume element goes

bool IsSupportedType(std::string_view type) {
    const std::string lower = Lower(type);
    return lower.empty() || lower == "mpegvideo" || lower == "waveaudio" || lower == "sequencer";
}

gint64 NanosPerUnit(TimeFormat format) {
    return format == TimeFormat::Frames ? kNanosPerFrame : kNanosPerMillisecond;
}

}  // namespace

GstDevices::GstDevices(SinkFactory sinkFactory, std::chrono::milliseconds readyWithin,
                       GainLookup gain, std::chrono::milliseconds waitOnLoop)
    : sinkFactory_(std::move(sinkFactory)),
      readyWithin_(readyWithin),
      waitOnLoop_(waitOnLoop),
      gain_(std::move(gain)) {
    Decoder::Init();
    endTimer_.setSingleShot(true);
    QObject::connect(&endTimer_, &QTimer::timeout, &timerContext_, [this] { Poll(); });
    openingTimer_.setSingleShot(true);
    QObject::connect(&openingTimer_, &QTimer::timeout, &timerContext_,
                     [this] { AdvanceOpenings(); });
    constexpr auto kOutputsLook = std::chrono::milliseconds(500);
    outputsTimer_.setInterval(kOutputsLook);
    QObject::connect(&outputsTimer_, &QTimer::timeout, &timerContext_,
                     [this] { FollowOutputs(false); });
    constexpr auto kStreamLook = std::chrono::milliseconds(250);
    streamTimer_.setInterval(kStreamLook);
    QObject::connect(&streamTimer_, &QTimer::timeout, &timerContext_, [this] { CheckStreams(); });
}

GstDevices::~GstDevices() {
    crossfades_.clear();
    fading_.clear();
    openings_.clear();
    devices_.clear();
    delete busWatch_;
}

GstDevices::SinkFactory GstDevices::FakeSink() {
    return [] {
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        g_object_set(sink, "sync", TRUE, nullptr);
        return sink;
    };
}

Device* GstDevices::Find(const std::string& alias) const {
    const auto found = devices_.find(Lower(alias));
    return found == devices_.end() ? nullptr : found->second.get();
}

Device* GstDevices::FindBy(const std::function<bool(const Device&)>& test) const {
    for (const auto& [key, device] : devices_) {
        if (test(*device)) {
            return device.get();
        }
    }
    for (const DevicePtr& device : fading_) {
        if (test(*device)) {
            return device.get();
        }
    }
    return nullptr;
}

Device* GstDevices::FindId(std::uint64_t id) const {
    return FindBy([id](const Device& d) { return d.Id() == id; });
}

bool GstDevices::Fading(const Device& device) const {
    return std::any_of(fading_.begin(), fading_.end(),
                       [&device](const DevicePtr& d) { return d.get() == &device; });
}

MciError GstDevices::Execute(std::string_view text, std::string& reply) {
    Command command;
    if (const MciError e = ParseCommand(text, command); e != kNoError) {
        return e;
    }
    Poll();
    // A crossfade whose outgoing or incoming device the command stopped ends with it at once.
    const auto settle = qScopeGuard([this] {
        if (!crossfades_.empty()) {
            FinishHeardEnds();
        }
    });
    if (command.verb == Verb::Open) {
        return Open(command);
    }
    if (command.verb == Verb::Close) {
        return Close(command);
    }
    Device* device = Find(command.device);
    if (device == nullptr) {
        return kErrDeviceNotOpen;
    }
    switch (command.verb) {
        case Verb::Play:
            return Play(*device, command.from, command.to);
        case Verb::Pause:
            if (device->Playing()) {
                Pause(*device, Device::Mode::Paused);
            }
            return kNoError;
        case Verb::Resume:
            return device->GetMode() == Device::Mode::Paused
                       ? Play(*device, std::nullopt, std::nullopt)
                       : kNoError;
        case Verb::Stop:
            Pause(*device, Device::Mode::Stopped);
            return kNoError;
        case Verb::Status:
            return Status(*device, command, reply);
        case Verb::Set:
            device->SetFormat(command.timeFormat);
            return kNoError;
        case Verb::SetAudio:
            return SetAudio(*device, command);
        case Verb::Cue:
            return Cue(*device, command);
        case Verb::Open:
        case Verb::Close:
            break;
    }
    return kErrUnrecognizedCommand;
}

MciError GstDevices::Open(const Command& command) {
    if (!IsSupportedType(command.type)) {
        return kErrUnknownDeviceType;
    }
    const std::string key = Lower(command.alias);
    if (devices_.count(key) != 0) {
        return kErrAliasInUse;
    }
    std::string uri;
    if (const MciError e = UriOf(command.device, uri); e != kNoError) {
        return e;
    }
    const bool stream = Playlist::IsPlaylist(command.device);
    if (const MciError e = StartOutput(); e != kNoError) {
        AwaitOutput(command.alias);
        return e;
    }
    // The gain and the sound's bounds belong to the file itself, also when it is opened under a
    // name of our own.
    const std::string real =
        Files::LongPathName(QByteArray::fromStdString(command.device)).toStdString();
    Opening opening{.id = nextId_++,
                    .uri = uri,
                    .gain = gain_ ? std::clamp(gain_(real), 0.0, kMaxFileGain) : 1.0,
                    .sound = trim_ && !stream ? trim_(real) : std::nullopt,
                    .deadline = QDeadlineTimer(stream ? kStreamPatience : readyWithin_)};
    auto made = std::make_unique<Device>(*output_, opening.id, command.alias, command.device);
    Device& device = *made;
    devices_.emplace(key, std::move(made));
    if (stream) {
        device.MakeLive();
        WatchStreams();
    }
    // Ready to play means its first sample is held. A file that is not, within the wait on the
    // loop, goes on getting ready from the loop, and plays once it is if it is told to meanwhile;
    // one that fails on the way leaves nothing behind. A stream is never waited for: it connects
    // and fills its buffer while the loop goes on.
    if (stream ? Advance(opening, device) : WaitUntilReady(opening, device)) {
        return kNoError;
    }
    if (device.Failed()) {
        const MciError e = opening.missingElement ? kErrDeviceFailed : kErrCannotPlay;
        devices_.erase(key);
        return e;
    }
    openings_.push_back(std::move(opening));
    ArmOpeningTimer();
    return kNoError;
}

MciError GstDevices::Close(const Command& command) {
    if (command.all) {
        crossfades_.clear();
        fading_.clear();
        openings_.clear();
        devices_.clear();
        awaitingOutput_.clear();
        // Nothing is left to play: the stream goes too, so that the sound server can idle. The
        // next open builds it again.
        if (output_ != nullptr) {
            ReleaseOutput();
        }
        return kNoError;
    }
    const auto found = devices_.find(Lower(command.device));
    if (found == devices_.end()) {
        return kErrDeviceNotOpen;
    }
    devices_.erase(found);
    return kNoError;
}

// A new device starts after every level change made so far has been mixed: the music is down
// before the first sample of a message.
GstClockTime GstDevices::StartTime() const {
    return std::max(output_->NextChange(), levelSetUntil_);
}

// The mix time heard now.
GstClockTime GstDevices::Heard() const {
    if (output_ == nullptr || !output_->Started()) {
        return 0;
    }
    const GstClockTime now = output_->Now();
    return now > output_->Latency() ? now - output_->Latency() : 0;
}

MciError GstDevices::Play(Device& device, std::optional<std::int64_t> from,
                          std::optional<std::int64_t> to) {
    if (device.Failed() || output_ == nullptr) {
        return kErrDeviceFailed;
    }
    // Not ready yet: it plays from its start to its end once it is. Where it is and how long it
    // is are not known before.
    if (Opening* opening = OpeningOf(device)) {
        if ((from && (*from != 0 || opening->replay)) || to.value_or(0) != 0) {
            return kErrCannotPlay;
        }
        opening->play = true;
        device.SetMode(Device::Mode::Playing);
        return kNoError;
    }
    const gint64 unit = NanosPerUnit(device.Format());
    const gint64 durationNs = device.Duration();
    // Positions count from where the sound starts: what is trimmed off is not there at all.
    const gint64 trim = device.TrimStart();
    const std::int64_t length = durationNs < 0 ? -1 : (durationNs - trim + unit - 1) / unit;
    const gint64 positionNs = device.Position(Heard());
    const std::int64_t start = from.value_or((positionNs - trim) / unit);
    if (length >= 0 && (start > length || (to && *to > length))) {
        return kErrOutOfRange;
    }
    if (to && start > *to) {
        return kErrOutOfRange;
    }
    const std::int64_t limit = std::numeric_limits<gint64>::max() / unit;
    if (start > limit || (to && *to > limit)) {
        return kErrOutOfRange;  // a file of unknown length bounds nothing, but time must fit
    }
    // A stop at the length, rounded up as it is, means the end of the file. A file whose length
    // is not known reports 0, so "to 0" then means its end too.
    const bool toEnd = !to || *to >= std::max<std::int64_t>(length, 0);
    const gint64 startNs = from ? start * unit + trim : positionNs;
    device.Detach();
    // A stream goes on from where it was held: it cannot be sought.
    if (!device.Live() && (device.NeedsSeekTo(startNs) || !toEnd)) {
        device.Seek(startNs, toEnd ? device.TrimEnd() : *to * unit + trim);
        if (!WaitUntilPrerolled(device)) {
            if (device.Failed()) {
                return kErrDeviceFailed;
            }
            // Still on its way (a slow disk): it plays once held.
            openings_.push_back(Opening{.id = device.Id(),
                                        .deadline = QDeadlineTimer(readyWithin_),
                                        .built = true,
                                        .play = true,
                                        .replay = true});
            ArmOpeningTimer();
            device.SetMode(Device::Mode::Playing);
            return kNoError;
        }
    }
    return StartPlaying(device);
}

MciError GstDevices::StartPlaying(Device& device) {
    if (device.Empty()) {  // nothing left to play from there
        device.SetMode(Device::Mode::Stopped);
        PostNotice(device.Alias(), Notice::Ended);
        return kNoError;
    }
    if (!device.Attach(StartTime())) {
        device.MarkFailed();
        return kErrDeviceFailed;
    }
    device.SetMode(Device::Mode::Playing);
    return kNoError;
}

void GstDevices::Pause(Device& device, Device::Mode mode) {
    if (Opening* opening = OpeningOf(device)) {
        opening->play = false;
    } else if (device.Playing()) {
        // Held at the last sample the mix has taken from it, which is still to be heard: a
        // resume goes on from there, where one from the sample heard now would repeat the rest.
        const GstClockTime mixed = output_ != nullptr ? output_->Mixed() : GST_CLOCK_TIME_NONE;
        device.DetachAt(GST_CLOCK_TIME_IS_VALID(mixed) ? std::max(mixed, Heard()) : Heard());
    }
    device.SetMode(mode);
}

MciError GstDevices::Status(Device& device, const Command& command, std::string& reply) {
    FinishHeardEnds();
    const gint64 unit = NanosPerUnit(device.Format());
    switch (command.item) {
        case StatusItem::Mode:
            reply = device.GetMode() == Device::Mode::Playing  ? "playing"
                    : device.GetMode() == Device::Mode::Paused ? "paused"
                                                               : "stopped";
            return kNoError;
        case StatusItem::Length: {
            const gint64 duration = OpeningOf(device) != nullptr ? -1 : device.Duration();
            reply = std::to_string(
                duration < 0 ? 0 : (duration - device.TrimStart() + unit - 1) / unit);
            return kNoError;
        }
        case StatusItem::Position:
            reply = std::to_string((device.Position(Heard()) - device.TrimStart()) / unit);
            return kNoError;
        case StatusItem::Volume:
            reply = std::to_string(device.Volume(command.side));
            return kNoError;
        case StatusItem::TimeFormat:
            reply = device.Format() == TimeFormat::Frames ? "frames" : "milliseconds";
            return kNoError;
        case StatusItem::Ready:
            reply = device.Failed() ? "false" : "true";
            return kNoError;
    }
    return kErrUnrecognizedKeyword;
}

MciError GstDevices::SetAudio(Device& device, const Command& command) {
    const std::int64_t left = device.Volume(Side::Left);
    const std::int64_t right = device.Volume(Side::Right);
    device.SetVolume(command.side, command.volume);
    if (device.Balance() != 0.0F && !Device::HasBalance()) {
        // No balance here: nothing changes, rather than half of what was asked.
        device.SetVolume(Side::Left, left);
        device.SetVolume(Side::Right, right);
        return kErrUnsupportedFunction;
    }
    if (output_ == nullptr || !output_->Started() || !device.Leads()) {
        return kNoError;  // heard as it starts
    }
    const GstClockTime at = output_->NextChange();
    device.ApplyVolume(at);
    levelSetUntil_ = std::max(levelSetUntil_, at + kLevelRamp);
    // A crossfade is one music under one alias: both its files follow the level.
    for (const Crossfade& c : crossfades_) {
        const std::uint64_t other = c.from == device.Id() && !c.begun ? c.to
                                    : c.to == device.Id() && c.begun  ? c.from
                                                                      : 0;
        if (Device* partner = FindId(other)) {
            partner->CopyVolume(device);
            partner->ApplyVolume(at);
        }
    }
    return kNoError;
}

}  // namespace Platform::Mci
