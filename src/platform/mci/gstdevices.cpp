#include "platform/mci/gstdevices.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <limits>

#include "platform/files.h"
#include "platform/mci/decoder.h"

namespace Platform::Mci {

namespace {

Q_LOGGING_CATEGORY(lcMedia, "corvane.media")

constexpr gint64 kNanosPerMillisecond = 1'000'000;
constexpr gint64 kNanosPerFrame = 40 * kNanosPerMillisecond;
// A level command's ramp, after which a new device may start: the music is down before a message.
constexpr GstClockTime kLevelRampNs = 10 * GST_MSECOND;

constexpr std::int64_t kFullVolume = 1000;
constexpr double kMaxFileGain = 10.0;  // +20 dB, as far as the volume element goes

std::string Lower(std::string_view word) {
    std::string result(word);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

bool IsSupportedType(std::string_view type) {
    const std::string lower = Lower(type);
    return lower.empty() || lower == "mpegvideo" || lower == "waveaudio" || lower == "sequencer";
}

gint64 NanosPerUnit(TimeFormat format) {
    return format == TimeFormat::Frames ? kNanosPerFrame : kNanosPerMillisecond;
}

float Balance(const Device& device) {
    const std::int64_t loudest = std::max(device.left, device.right);
    if (loudest == 0 || device.left == device.right) {
        return 0.0F;
    }
    // The louder side plays at the device volume; the other is attenuated by the balance.
    return device.left < device.right
               ? 1.0F - static_cast<float>(device.left) / static_cast<float>(device.right)
               : static_cast<float>(device.right) / static_cast<float>(device.left) - 1.0F;
}

void LogError(const std::string& alias, const std::string& file, GstMessage* message) {
    GError* error = nullptr;
    gchar* details = nullptr;
    gst_message_parse_error(message, &error, &details);
    qCWarning(lcMedia, "%s: %s: %s (%s)", alias.c_str(), file.c_str(),
              error != nullptr ? error->message : "", details != nullptr ? details : "");
    g_clear_error(&error);
    g_free(details);
}

}  // namespace

GstDevices::GstDevices(SinkFactory sinkFactory, std::chrono::milliseconds openTimeout,
                       GainLookup gain)
    : sinkFactory_(std::move(sinkFactory)), openTimeout_(openTimeout), gain_(std::move(gain)) {
    Decoder::Init();
    endTimer_.setSingleShot(true);
    QObject::connect(&endTimer_, &QTimer::timeout, &timerContext_, [this] { Poll(); });
    constexpr auto kOutputsLook = std::chrono::milliseconds(500);
    outputsTimer_.setInterval(kOutputsLook);
    QObject::connect(&outputsTimer_, &QTimer::timeout, &timerContext_,
                     [this] { FollowOutputs(false); });
}

GstDevices::~GstDevices() {
    crossfades_.clear();
    fading_.clear();
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
            if (device->mode == Device::Mode::Playing) {
                Pause(*device, Device::Mode::Paused);
            }
            return kNoError;
        case Verb::Resume:
            return device->mode == Device::Mode::Paused ? Play(*device, std::nullopt, std::nullopt)
                                                        : kNoError;
        case Verb::Stop:
            Pause(*device, Device::Mode::Stopped);
            return kNoError;
        case Verb::Status:
            return Status(*device, command, reply);
        case Verb::Set:
            device->timeFormat = command.timeFormat;
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

MciError GstDevices::StartOutput() {
    if (output_ != nullptr) {
        return kNoError;
    }
    const std::string device =
        outputs_ != nullptr && outputs_->Has(chosenOutput_) ? chosenOutput_ : std::string();
    output_ = Output::Start(sinkFactory_, device);
    outputDevice_ = device;
    if (output_ == nullptr) {
        if (!outputLost_) {
            qCWarning(lcMedia, "no sound output: the sound server is gone or refuses us");
        }
        outputLost_ = true;
        return kErrNoOutput;
    }
    if (std::exchange(outputLost_, false)) {
        qCWarning(lcMedia, "sound output back");
    }
    GPollFD poll{};
    gst_bus_get_pollfd(output_->Bus(), &poll);
    if (poll.fd >= 0 && QCoreApplication::instance() != nullptr) {
        busWatch_ = new QSocketNotifier(poll.fd, QSocketNotifier::Read);
        QObject::connect(busWatch_, &QSocketNotifier::activated, busWatch_, [this] { Poll(); });
    }
    return kNoError;
}

MciError GstDevices::Open(const Command& command) {
    if (!IsSupportedType(command.type)) {
        return kErrUnknownDeviceType;
    }
    const std::string key = Lower(command.alias);
    if (devices_.count(key) != 0) {
        return kErrAliasInUse;
    }
    struct stat info {};
    if (::stat(command.device.c_str(), &info) != 0) {
        return kErrFileNotFound;
    }
    if (!S_ISREG(info.st_mode)) {
        return kErrCannotPlay;
    }
    const std::unique_ptr<gchar, void (*)(gpointer)> uri(
        gst_filename_to_uri(command.device.c_str(), nullptr), g_free);
    if (uri == nullptr) {
        return kErrFileNotFound;
    }
    if (const MciError e = StartOutput(); e != kNoError) {
        AwaitOutput(command.alias);
        return e;
    }
    // The gain belongs to the file itself, also when it is opened under a name of our own.
    const QByteArray real = Files::LongPathName(QByteArray::fromStdString(command.device));
    const double gain = gain_ ? std::clamp(gain_(real.toStdString()), 0.0, kMaxFileGain) : 1.0;
    auto made = std::make_unique<Device>(*output_, nextId_++, command.alias, command.device);
    Device& device = *made;
    devices_.emplace(key, std::move(made));
    // Ready to play means its first sample is held; a file that cannot get there is refused,
    // within a bounded wait, and leaves nothing behind.
    MciError result = kNoError;
    // A file trimmed of its silent ends is held where its sound starts, and stops where it ends.
    const auto sound =
        trim_ ? trim_(real.toStdString()) : std::optional<std::pair<gint64, gint64>>();
    if (!device.Build(uri.get(), gain)) {
        result = kErrDeviceFailed;
    } else if (!WaitUntilPrerolled(device) ||
               (sound && (device.Seek(sound->first, sound->second), !WaitUntilPrerolled(device)))) {
        result = device.failed ? kErrCannotPlay : kErrOpenTimeout;
        if (!device.failed) {
            qCWarning(lcMedia, "%s: %s: not ready to play within %lld ms (%s)",
                      command.alias.c_str(), command.device.c_str(),
                      static_cast<long long>(openTimeout_.count()), device.Progress().c_str());
        }
    }
    if (result != kNoError) {
        devices_.erase(key);
    } else if (sound) {
        device.trimStartNs = sound->first;
        device.trimEndNs = sound->second;
        const gint64 full = device.QueryDuration();
        device.durationNs = full < 0 ? sound->second : std::min(full, sound->second);
    }
    return result;
}

bool GstDevices::WaitUntilPrerolled(Device& device) {
    const QDeadlineTimer deadline(openTimeout_);
    while (!device.Prerolled() && !device.failed && output_ != nullptr && !deadline.hasExpired()) {
        GstMessage* message = gst_bus_timed_pop(
            output_->Bus(), static_cast<GstClockTime>(deadline.remainingTime()) * GST_MSECOND);
        if (message != nullptr) {
            OnMessage(message);
            gst_message_unref(message);
        }
    }
    Poll();  // what came with it, an error of the same file say
    return device.Prerolled() && !device.failed;
}

MciError GstDevices::Close(const Command& command) {
    if (command.all) {
        crossfades_.clear();
        fading_.clear();
        devices_.clear();
        awaitingOutput_.clear();
        // Nothing is left to play: the stream goes too, so that the sound server can idle. The
        // next open builds it again.
        if (output_ != nullptr) {
            gst_element_set_state(output_->Pipeline(), GST_STATE_NULL);
            delete std::exchange(busWatch_, nullptr);
            output_.reset();
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
    return std::max(output_->Now() + output_->LevelLead(), levelSetUntil_);
}

MciError GstDevices::Play(Device& device, std::optional<std::int64_t> from,
                          std::optional<std::int64_t> to) {
    if (device.failed || output_ == nullptr) {
        return kErrDeviceFailed;
    }
    const gint64 unit = NanosPerUnit(device.timeFormat);
    const gint64 durationNs = device.durationNs >= 0 ? device.durationNs : device.QueryDuration();
    device.durationNs = durationNs;
    // Positions count from where the sound starts: what is trimmed off is not there at all.
    const gint64 trim = device.trimStartNs;
    const std::int64_t length = durationNs < 0 ? -1 : (durationNs - trim + unit - 1) / unit;
    const std::int64_t start = from.value_or((PositionNs(device) - trim) / unit);
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
    const gint64 startNs = from ? start * unit + trim : PositionNs(device);
    device.Detach();
    if (device.needsSeek || startNs != device.heldNs || !toEnd) {
        device.Seek(startNs, toEnd ? device.trimEndNs : *to * unit + trim);
        if (!WaitUntilPrerolled(device)) {
            return kErrDeviceFailed;
        }
    }
    device.ended = false;
    device.endHeardAt = GST_CLOCK_TIME_NONE;
    if (device.Empty()) {  // nothing left to play from there
        device.mode = Device::Mode::Stopped;
        device.ended = true;
        PostNotice(device.alias, Notice::Ended);
        return kNoError;
    }
    if (!device.Attach(StartTime())) {
        device.failed = true;
        device.mode = Device::Mode::Stopped;
        return kErrDeviceFailed;
    }
    device.mode = Device::Mode::Playing;
    return kNoError;
}

void GstDevices::Pause(Device& device, Device::Mode mode) {
    if (device.mode == Device::Mode::Playing) {
        device.heldNs = PositionNs(device);
        device.Detach();
    }
    device.mode = mode;
}

MciError GstDevices::Cue(Device& device, const Command& command) {
    Device* leader = Find(command.after);
    if (leader == nullptr) {
        return kErrDeviceNotOpen;
    }
    if (leader == &device || device.failed || device.Attached() ||
        leader->mode != Device::Mode::Playing || !leader->Leads()) {
        return kErrCannotPlay;
    }
    if (device.needsSeek || device.heldNs != device.trimStartNs) {
        device.Seek(device.trimStartNs, device.trimEndNs);
        if (!WaitUntilPrerolled(device)) {
            return kErrDeviceFailed;
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
                    [&leader](const Crossfade& c) { return c.from == leader.id; })) {
        return kErrCannotPlay;
    }
    if (leader.durationNs < 0) {
        leader.durationNs = leader.QueryDuration();
    }
    if (device.durationNs < 0) {
        device.durationNs = device.QueryDuration();
    }
    // The leader falls only once it has risen, if it came in by a crossfade itself.
    const GstClockTime earliest = std::max(StartTime(), leader.risenAt);
    if (leader.durationNs < leader.startNs) {
        return device.Follow(leader) ? kNoError : kErrCannotPlay;
    }
    const GstClockTime end =
        leader.startAt + static_cast<GstClockTime>(leader.durationNs - leader.startNs);
    constexpr std::int64_t kLongest = 60'000;
    GstClockTime length = static_cast<GstClockTime>(std::min(overlapMs, kLongest)) * GST_MSECOND;
    if (device.durationNs > device.trimStartNs) {
        length = std::min(length,
                          static_cast<GstClockTime>((device.durationNs - device.trimStartNs) / 2));
    }
    if (end <= earliest + kLevelRampNs || length == 0) {
        return device.Follow(leader) ? kNoError : kErrCannotPlay;  // too late to overlap
    }
    length = std::min(length, end - earliest);
    const GstClockTime at = end - length;
    device.left = leader.left;
    device.right = leader.right;
    if (!device.Attach(at)) {
        device.Detach();
        return kErrDeviceFailed;
    }
    device.SetEnvelope(at, length, true);
    device.risenAt = end;
    leader.SetEnvelope(at, length, false);
    crossfades_.push_back(Crossfade{leader.id, device.id, device.StripId(), at, false});
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
        Device* from = FindBy([id = c->from](const Device& d) { return d.id == id; });
        Device* to = FindBy([id = c->to](const Device& d) { return d.id == id; });
        const bool toIntact = to != nullptr && to->StripId() == c->toStrip && !Fading(*to);
        if (!c->begun) {
            if (from == nullptr || from->mode != Device::Mode::Playing || !from->Leads() ||
                Fading(*from) || !toIntact) {
                if (toIntact) {
                    to->Detach();  // held again, to play when it is told to
                }
                if (from != nullptr) {
                    from->ClearEnvelope(c->at);
                }
                c = crossfades_.erase(c);
                continue;
            }
            if (!heard(c->at) && !heard(from->endHeardAt)) {
                next = std::min(next, c->at + latency);
                ++c;
                continue;
            }
            c->begun = true;
            BeginCrossfade(*from, *to);
        }
        if (from == nullptr || !toIntact || to->mode != Device::Mode::Playing ||
            from->mode != Device::Mode::Playing || heard(from->endHeardAt)) {
            fading_.erase(std::remove_if(fading_.begin(), fading_.end(),
                                         [from](const DevicePtr& d) { return d.get() == from; }),
                          fading_.end());
            c = crossfades_.erase(c);
            continue;
        }
        if (GST_CLOCK_TIME_IS_VALID(from->endHeardAt)) {
            next = std::min(next, from->endHeardAt + latency);
        }
        ++c;
    }
    return next;
}

// The incoming device takes the alias, its level and its balance; the outgoing one plays out.
void GstDevices::BeginCrossfade(Device& leader, Device& follower) {
    follower.mode = Device::Mode::Playing;
    follower.timeFormat = leader.timeFormat;
    follower.alias = leader.alias;
    follower.left = leader.left;
    follower.right = leader.right;
    const std::string key = Lower(leader.alias);
    const auto followerEntry =
        std::find_if(devices_.begin(), devices_.end(),
                     [&follower](const auto& entry) { return entry.second.get() == &follower; });
    DevicePtr incoming = std::move(followerEntry->second);
    devices_.erase(followerEntry);
    fading_.push_back(std::move(devices_[key]));
    devices_[key] = std::move(incoming);
    PostNotice(follower.alias, Notice::Advanced);
}

gint64 GstDevices::PositionNs(Device& device) {
    if (device.mode != Device::Mode::Playing || output_ == nullptr || !device.Leads()) {
        return device.heldNs;
    }
    const GstClockTime now = output_->Now();
    const GstClockTime heard = now > output_->Latency() ? now - output_->Latency() : 0;
    GstClockTime played = heard > device.startAt ? heard - device.startAt : 0;
    if (GST_CLOCK_TIME_IS_VALID(device.endHeardAt)) {
        played = std::min(played, device.endHeardAt - std::min(device.endHeardAt, device.startAt));
    }
    return device.startNs + static_cast<gint64>(played);
}

MciError GstDevices::Status(Device& device, const Command& command, std::string& reply) {
    FinishHeardEnds();
    const gint64 unit = NanosPerUnit(device.timeFormat);
    switch (command.item) {
        case StatusItem::Mode:
            reply = device.mode == Device::Mode::Playing  ? "playing"
                    : device.mode == Device::Mode::Paused ? "paused"
                                                          : "stopped";
            return kNoError;
        case StatusItem::Length: {
            if (device.durationNs < 0) {
                device.durationNs = device.QueryDuration();
            }
            const gint64 ns = device.durationNs - device.trimStartNs;
            reply = std::to_string(device.durationNs < 0 ? 0 : (ns + unit - 1) / unit);
            return kNoError;
        }
        case StatusItem::Position:
            reply = std::to_string((PositionNs(device) - device.trimStartNs) / unit);
            return kNoError;
        case StatusItem::Volume:
            switch (command.side) {
                case Side::Left:
                    reply = std::to_string(device.left);
                    break;
                case Side::Right:
                    reply = std::to_string(device.right);
                    break;
                case Side::Both:
                    reply = std::to_string((device.left + device.right + 1) / 2);
                    break;
            }
            return kNoError;
        case StatusItem::TimeFormat:
            reply = device.timeFormat == TimeFormat::Frames ? "frames" : "milliseconds";
            return kNoError;
        case StatusItem::Ready:
            reply = device.failed ? "false" : "true";
            return kNoError;
    }
    return kErrUnrecognizedKeyword;
}

MciError GstDevices::SetAudio(Device& device, const Command& command) {
    if (command.side != Side::Right) {
        device.left = command.volume;
    }
    if (command.side != Side::Left) {
        device.right = command.volume;
    }
    if (output_ != nullptr && device.Leads()) {
        const GstClockTime at = output_->Now() + output_->LevelLead();
        SetLevelOf(device, at);
        levelSetUntil_ = std::max(levelSetUntil_, at + kLevelRampNs);
        // A crossfade is one music under one alias: both its files follow the level.
        for (const Crossfade& c : crossfades_) {
            const std::uint64_t other = c.from == device.id && !c.begun ? c.to
                                        : c.to == device.id && c.begun  ? c.from
                                                                        : 0;
            if (Device* partner = FindBy([other](const Device& d) { return d.id == other; })) {
                partner->left = device.left;
                partner->right = device.right;
                SetLevelOf(*partner, at);
            }
        }
    }
    return Balance(device) != 0.0F && !device.HasBalance() ? kErrUnsupportedFunction : kNoError;
}

void GstDevices::SetLevelOf(Device& device, GstClockTime at) {
    device.SetLevel(static_cast<double>(std::max(device.left, device.right)) / kFullVolume, at);
    device.SetBalance(Balance(device));
}

void GstDevices::Poll() {
    if (output_ == nullptr) {
        return;
    }
    while (output_ != nullptr) {
        GstMessage* message = gst_bus_pop(output_->Bus());
        if (message == nullptr) {
            break;
        }
        OnMessage(message);
        gst_message_unref(message);
    }
    FinishHeardEnds();
}

void GstDevices::OnMessage(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR:
            if (output_->Owns(GST_MESSAGE_SRC(message))) {
                LoseOutput(message);
            } else if (Device* device = FindBy(
                           [message](const Device& d) { return d.Owns(GST_MESSAGE_SRC(message)); });
                       device != nullptr && !device->letGo) {
                Fail(*device, message);
            }
            break;
        case GST_MESSAGE_APPLICATION:
            if (gst_message_has_name(message, "corvane")) {
                OnEvent(gst_message_get_structure(message));
            }
            break;
        case GST_MESSAGE_LATENCY:
            output_->UpdateLatency();
            break;
        default:
            break;
    }
}

void GstDevices::OnEvent(const GstStructure* event) {
    const std::string name = gst_structure_get_string(event, "event");
    guint64 id = 0;
    guint64 at = 0;
    gst_structure_get_uint64(event, "at", &at);
    if (gst_structure_get_uint64(event, "strip", &id)) {
        Device* leader = FindBy([id](const Device& d) { return d.StripId() == id; });
        if (leader == nullptr) {
            return;
        }
        if (name == "ended") {
            leader->endHeardAt = at;
            FinishHeardEnds();
        } else if (name == "switched") {
            leader->endHeardAt = at;
            TakeOver(*leader);
        } else if (name == "moved") {
            leader->startAt = at;
        }
        return;
    }
    gst_structure_get_uint64(event, "device", &id);
    Device* device = FindBy([id](const Device& d) { return d.id == id; });
    if (device == nullptr) {
        return;
    }
    if (name == "no-audio") {
        Fail(*device, nullptr);
    } else if (name == "dropped") {
        qCWarning(lcMedia, "%s: %s is gone; not played", device->alias.c_str(),
                  device->file.c_str());
        device->Detach();
    }
}

// The device cued after `leader` plays from the sample where the leader's file ended, under the
// leader's alias, with its level.
void GstDevices::TakeOver(Device& leader) {
    Device* follower = FindBy([&leader](const Device& d) { return d.Follows(leader); });
    if (follower == nullptr) {
        return;
    }
    const GstClockTime at = leader.endHeardAt;
    follower->TakeOver(leader);
    follower->startAt = at;
    follower->mode = Device::Mode::Playing;
    follower->timeFormat = leader.timeFormat;
    follower->alias = leader.alias;
    const std::string leaderKey = Lower(leader.alias);
    const auto followerEntry =
        std::find_if(devices_.begin(), devices_.end(),
                     [follower](const auto& entry) { return entry.second.get() == follower; });
    DevicePtr taken = std::move(followerEntry->second);
    devices_.erase(followerEntry);
    devices_[leaderKey] = std::move(taken);  // the leader goes
    PostNotice(follower->alias, Notice::Advanced);
}

// An end is reported once it is heard: the music comes back up only after a message's last word.
void GstDevices::FinishHeardEnds() {
    if (output_ == nullptr) {
        return;
    }
    const GstClockTime crossfadeDue =
        crossfades_.empty() ? GST_CLOCK_TIME_NONE : AdvanceCrossfades();
    const GstClockTime now = output_->Now();
    GstClockTime next = GST_CLOCK_TIME_IS_VALID(crossfadeDue)
                            ? (crossfadeDue > now ? crossfadeDue - now : 0)
                            : GST_CLOCK_TIME_NONE;
    for (const auto& [key, device] : devices_) {
        if (device->mode != Device::Mode::Playing || !GST_CLOCK_TIME_IS_VALID(device->endHeardAt)) {
            continue;
        }
        const GstClockTime heardAt = device->endHeardAt + output_->Latency();
        if (heardAt <= now) {
            device->heldNs = PositionNs(*device);
            device->Detach();
            device->mode = Device::Mode::Stopped;
            device->ended = true;
            PostNotice(device->alias, Notice::Ended);
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

void GstDevices::Fail(Device& device, GstMessage* error) {
    if (error != nullptr) {
        LogError(device.alias, device.file, error);
    }
    if (device.failed) {
        return;
    }
    if (Fading(device)) {  // its alias has another file already; it just goes quiet
        device.failed = true;
        device.mode = Device::Mode::Stopped;
        device.Detach();
        return;
    }
    device.failed = true;
    device.mode = Device::Mode::Stopped;
    device.Detach();
    PostNotice(device.alias, Notice::Failed);
}

// Whoever found no output is told as soon as it is back, by a failure notice of the alias it
// tried: a notice makes its owner try again at once instead of at its next look.
void GstDevices::AwaitOutput(const std::string& alias) {
    const bool first = awaitingOutput_.empty();
    awaitingOutput_.insert(alias);
    if (first) {
        ArmOutputRetry();
    }
}

void GstDevices::ArmOutputRetry() {
    constexpr auto kRetry = std::chrono::milliseconds(200);
    if (QCoreApplication::instance() != nullptr) {
        QTimer::singleShot(kRetry, &timerContext_, [this] { RetryOutput(); });
    }
}

void GstDevices::RetryOutput() {
    if (StartOutput() != kNoError) {
        ArmOutputRetry();
        return;
    }
    for (const std::string& alias : std::exchange(awaitingOutput_, {})) {
        PostNotice(alias, Notice::Failed);
    }
}

// The sound server went away: every device fails, and the output is built again once it is back.
void GstDevices::LoseOutput(GstMessage* error) {
    LogError("output", "", error);
    qCWarning(lcMedia, "sound output lost");
    outputLost_ = true;
    DropOutput(true);
}

// Every device fails and the output goes. `lost`: the owners are told again when it is back.
void GstDevices::DropOutput(bool lost) {
    gst_element_set_state(output_->Pipeline(), GST_STATE_NULL);
    for (const auto& [key, device] : devices_) {
        device->Abandon();
        if (!device->failed) {
            device->failed = true;
            device->mode = Device::Mode::Stopped;
            PostNotice(device->alias, Notice::Failed);
        }
        if (lost) {
            AwaitOutput(device->alias);
        }
    }
    crossfades_.clear();
    fading_.clear();
    delete std::exchange(busWatch_, nullptr);
    output_.reset();
}

MciError GstDevices::SelectOutput(const std::string& name) {
    chosenOutput_ = name;
    if (name.empty() || sinkFactory_) {
        outputs_ = nullptr;
        outputsTimer_.stop();
    } else if (outputs_ == nullptr) {
        outputs_ = &OutputWatch::Instance();
        outputs_->TakeChanges();  // the outputs there are now, not news
        outputsTimer_.start();
    }
    FollowOutputs(true);
    return kNoError;
}

// Moves the output to where it should play: the chosen output when it is there, else the
// desktop's. One that goes away needs no move: the sound server moves its streams to its default
// output itself, and the output follows the chosen one again once that is back.
void GstDevices::FollowOutputs(bool choiceChanged) {
    const OutputWatch::Changes changes =
        outputs_ != nullptr ? outputs_->TakeChanges() : OutputWatch::Changes{};
    if (!changes.any && !choiceChanged) {
        return;
    }
    // Gone, even if back already: the server has moved the stream to its default.
    if (changes.removed.count(outputDevice_) != 0) {
        outputDevice_.clear();
    }
    const std::string wanted =
        outputs_ != nullptr && outputs_->Has(chosenOutput_) ? chosenOutput_ : std::string();
    if (output_ == nullptr || wanted == outputDevice_) {
        return;
    }
    qCWarning(lcMedia, "sound output moves to %s", wanted.empty() ? "the default" : wanted.c_str());
    DropOutput(false);
    StartOutput();
}

}  // namespace Platform::Mci
