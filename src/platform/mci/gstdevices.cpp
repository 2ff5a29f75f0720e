#include "platform/mci/gstdevices.h"

#include <gst/audio/gstaudiobasesink.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

namespace Platform::Mci {

namespace {

Q_LOGGING_CATEGORY(lcMedia, "corvane.media")

// playbin's flags: decode audio only. The level is applied to the samples by a volume element of
// our own in the device's filter: playbin's own soft volume leaves one volume element behind for
// every pipeline (about 4 kB a file start, measured with GStreamer's leak tracer), and the sound
// server's per-stream volume is the user's to set.
constexpr guint kPlayFlagAudio = 1U << 1;

// The device's filter: the file's own gain, then its level and, where the element is there, its
// balance.
GstElement* MakeFilter(GstElement*& gain, GstElement*& level, GstElement*& balance) {
    GstElement* filter = gst_parse_bin_from_description(
        "volume name=gain ! volume name=level ! audiopanorama name=balance method=simple", TRUE,
        nullptr);
    if (filter == nullptr) {
        filter =
            gst_parse_bin_from_description("volume name=gain ! volume name=level", TRUE, nullptr);
    }
    if (filter == nullptr) {
        return nullptr;
    }
    // Owned by the filter, and so by the pipeline, for as long as the device lives.
    gain = gst_bin_get_by_name(GST_BIN(filter), "gain");
    level = gst_bin_get_by_name(GST_BIN(filter), "level");
    balance = gst_bin_get_by_name(GST_BIN(filter), "balance");
    for (GstElement* element : {gain, level, balance}) {
        if (element != nullptr) {
            gst_object_unref(element);
        }
    }
    return filter;
}

constexpr gint64 kNanosPerMillisecond = 1'000'000;
constexpr gint64 kNanosPerFrame = 40 * kNanosPerMillisecond;

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

void RaiseSynthesizerGain(GstElement* playbin) {
    GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(playbin));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
        GstDevices::SetUpDecoder(GST_ELEMENT(g_value_get_object(&item)));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(elements);
}

// The sound server's stream is kept short, so a file is heard within a few hundredths of a second
// of its start; the default fifth of a second would leave that much silence at every track change.
constexpr gint64 kOutputBufferMicroseconds = 80'000;
constexpr gint64 kOutputPeriodMicroseconds = 10'000;

// The desktop's sound output, found by autoaudiosink and made ready here: with no sound server
// (one restarting, say) autoaudiosink settles on a sink that plays into nothing, and the open must
// fail at once instead of playing a file silently to its end.
GstElement* MakeOutputSink() {
    GstElement* sink = gst_element_factory_make("autoaudiosink", nullptr);
    if (sink == nullptr) {
        return nullptr;
    }
    gst_object_ref_sink(sink);
    bool usable = gst_element_set_state(sink, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    bool found = false;
    GstIterator* children = gst_bin_iterate_elements(GST_BIN(sink));
    GValue item = G_VALUE_INIT;
    while (usable && gst_iterator_next(children, &item) == GST_ITERATOR_OK) {
        GstElement* child = GST_ELEMENT(g_value_get_object(&item));
        if (GST_IS_AUDIO_BASE_SINK(child)) {
            found = true;
            g_object_set(child, "buffer-time", kOutputBufferMicroseconds, "latency-time",
                         kOutputPeriodMicroseconds, nullptr);
        }
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(children);
    if (!usable || !found) {
        gst_element_set_state(sink, GST_STATE_NULL);
        gst_object_unref(sink);
        return nullptr;
    }
    return sink;
}

}  // namespace

struct GstDevices::Device {
    enum class Mode { Stopped, Playing, Paused };

    GstElement* playbin = nullptr;
    GstElement* gain = nullptr;      // owned by playbin
    GstElement* level = nullptr;     // owned by playbin
    GstElement* panorama = nullptr;  // owned by playbin; null when the element is missing
    GstBus* bus = nullptr;
    QSocketNotifier* busWatch = nullptr;
    std::string alias;  // as opened, for notices
    std::string file;   // for the log
    Mode mode = Mode::Stopped;
    bool ended = false;  // played to the end of the file or of its "to" position
    bool failed = false;
    TimeFormat timeFormat = TimeFormat::Milliseconds;
    std::int64_t left = kFullVolume;
    std::int64_t right = kFullVolume;
    gint64 durationNs = -1;

    static void Destroy(Device* device) {
        delete device->busWatch;
        if (device->playbin != nullptr) {
            gst_element_set_state(device->playbin, GST_STATE_NULL);
            if (device->bus != nullptr) {
                gst_object_unref(device->bus);
            }
            gst_object_unref(device->playbin);
        }
        delete device;
    }

    // Reads what the pipeline reported since the last look: the end of the file and errors.
    void Poll() {
        while (GstMessage* message = gst_bus_pop(bus)) {
            switch (GST_MESSAGE_TYPE(message)) {
                case GST_MESSAGE_EOS:
                    if (mode == Mode::Playing) {
                        mode = Mode::Stopped;
                        ended = true;
                        PostNotice(alias, Notice::Ended);
                    }
                    break;
                case GST_MESSAGE_ERROR:
                    LogError(message);
                    mode = Mode::Stopped;
                    if (!failed) {
                        failed = true;
                        PostNotice(alias, Notice::Failed);
                    }
                    break;
                case GST_MESSAGE_DURATION_CHANGED:
                    durationNs = -1;
                    break;
                default:
                    break;
            }
            gst_message_unref(message);
        }
        if (failed) {
            // A broken pipeline (the sound server went away, say) holds nothing worth keeping.
            gst_element_set_state(playbin, GST_STATE_NULL);
        }
    }

    void LogError(GstMessage* message) const {
        GError* error = nullptr;
        gchar* details = nullptr;
        gst_message_parse_error(message, &error, &details);
        qCWarning(lcMedia, "%s: %s: %s (%s)", alias.c_str(), file.c_str(),
                  error != nullptr ? error->message : "", details != nullptr ? details : "");
        g_clear_error(&error);
        g_free(details);
    }

    // Reads the bus as soon as it has something, from the event loop of the thread that opened
    // the device. Without an event loop, commands still read it.
    void WatchBus() {
        GPollFD poll{};
        gst_bus_get_pollfd(bus, &poll);
        if (poll.fd >= 0 && QCoreApplication::instance() != nullptr) {
            busWatch = new QSocketNotifier(poll.fd, QSocketNotifier::Read);
            QObject::connect(busWatch, &QSocketNotifier::activated, busWatch, [this] { Poll(); });
        }
    }

    gint64 Duration() {
        if (durationNs < 0) {
            gint64 value = -1;
            if (gst_element_query_duration(playbin, GST_FORMAT_TIME, &value) && value >= 0) {
                durationNs = value;
            }
        }
        return durationNs;
    }

    // The length in the current time format, rounded up; -1 when not known.
    std::int64_t LengthUnits() {
        const gint64 ns = Duration();
        const gint64 unit = NanosPerUnit(timeFormat);
        return ns < 0 ? -1 : (ns + unit - 1) / unit;
    }

    std::int64_t PositionUnits() {
        gint64 ns = 0;
        if (!gst_element_query_position(playbin, GST_FORMAT_TIME, &ns) || ns < 0) {
            return 0;
        }
        return ns / NanosPerUnit(timeFormat);
    }

    MciError ApplyVolume() {
        const std::int64_t loudest = std::max(left, right);
        g_object_set(level, "volume", static_cast<double>(loudest) / kFullVolume, nullptr);
        // The louder side plays at the device volume; the other is attenuated by the balance.
        float balance = 0.0F;
        if (loudest > 0 && left != right) {
            balance = left < right ? 1.0F - static_cast<float>(left) / static_cast<float>(right)
                                   : static_cast<float>(right) / static_cast<float>(left) - 1.0F;
        }
        if (panorama == nullptr) {
            return balance == 0.0F ? kNoError : kErrUnsupportedFunction;
        }
        g_object_set(panorama, "panorama", balance, nullptr);
        return kNoError;
    }
};

void GstDevices::SetUpDecoder(GstElement* element) {
    // The MIDI synthesizer starts at a fifth of full scale, which leaves a MIDI tune far quieter
    // than recorded music or a spoken message at the same volume. Raising the gain by 12 dB brings
    // it near them while leaving headroom for many voices at once.
    constexpr double kSynthesizerGain = 0.8;
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory != nullptr &&
        g_strcmp0(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), "fluiddec") == 0) {
        g_object_set(element, "synth-gain", kSynthesizerGain, nullptr);
    }
}

GstDevices::GstDevices(SinkFactory sinkFactory, std::chrono::milliseconds openTimeout)
    : sinkFactory_(std::move(sinkFactory)), openTimeout_(openTimeout) {
    if (!gst_is_initialized()) {
        gst_init(nullptr, nullptr);
    }
}

GstDevices::~GstDevices() = default;

void GstDevices::Linger(DevicePtr device) {
    // One stream is all it takes; an older one of the same alias has long been silent.
    const std::string key = Lower(device->alias);
    lingering_.remove_if([&key](const auto& entry) { return Lower(entry.second->alias) == key; });
    const std::uint64_t serial = nextSerial_++;
    lingering_.emplace_back(serial, std::move(device));
    QTimer::singleShot(kLingerAfterEnd, &timerContext_, [this, serial] {
        lingering_.remove_if([serial](const auto& entry) { return entry.first == serial; });
    });
}

GstDevices::SinkFactory GstDevices::FakeSink() {
    return [] {
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        g_object_set(sink, "sync", TRUE, nullptr);
        return sink;
    };
}

GstDevices::Device* GstDevices::Find(const std::string& alias) {
    const auto found = devices_.find(Lower(alias));
    return found == devices_.end() ? nullptr : found->second.get();
}

MciError GstDevices::Execute(std::string_view text, std::string& reply) {
    Command command;
    if (const MciError e = ParseCommand(text, command); e != kNoError) {
        return e;
    }
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
    device->Poll();
    switch (command.verb) {
        case Verb::Play:
            return Play(*device, command);
        case Verb::Pause:
            if (device->mode == Device::Mode::Playing) {
                gst_element_set_state(device->playbin, GST_STATE_PAUSED);
                device->mode = Device::Mode::Paused;
            }
            return kNoError;
        case Verb::Resume:
            if (device->mode == Device::Mode::Paused) {
                gst_element_set_state(device->playbin, GST_STATE_PLAYING);
                device->mode = Device::Mode::Playing;
            }
            return kNoError;
        case Verb::Stop:
            if (!device->failed) {
                gst_element_set_state(device->playbin, GST_STATE_PAUSED);
            }
            device->mode = Device::Mode::Stopped;
            return kNoError;
        case Verb::Status:
            return Status(*device, command, reply);
        case Verb::Set:
            device->timeFormat = command.timeFormat;
            return kNoError;
        case Verb::SetAudio:
            return SetAudio(*device, command);
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
    // A full reference of ours until the pipeline holds its own.
    GstElement* sink = nullptr;
    if (sinkFactory_) {
        sink = sinkFactory_();
        if (sink != nullptr) {
            gst_object_ref_sink(sink);
        }
    } else if (sink = MakeOutputSink(); sink == nullptr) {
        if (!outputLost_) {
            qCWarning(lcMedia, "no sound output: the sound server is gone or refuses us");
        }
        outputLost_ = true;
        return kErrNoOutput;
    }
    const auto releaseSink = qScopeGuard([sink] {
        if (sink != nullptr) {
            gst_object_unref(sink);
        }
    });

    DevicePtr device(new Device, &Device::Destroy);
    if (std::exchange(outputLost_, false)) {
        qCWarning(lcMedia, "sound output back");
    }
    device->alias = command.alias;
    device->file = command.device;
    device->playbin = gst_element_factory_make("playbin", nullptr);
    GstElement* filter = MakeFilter(device->gain, device->level, device->panorama);
    if (device->playbin == nullptr || filter == nullptr) {
        if (filter != nullptr) {
            gst_object_unref(gst_object_ref_sink(filter));
        }
        if (device->playbin != nullptr) {
            gst_object_ref_sink(device->playbin);  // for Destroy to drop
        }
        return kErrDeviceFailed;
    }
    gst_object_ref_sink(device->playbin);
    // Set once for the whole file: a gain that changed while it plays would be heard as a jump.
    g_object_set(device->gain, "volume", std::clamp(FileGain(command.device), 0.0, kMaxFileGain),
                 nullptr);
    device->bus = gst_element_get_bus(device->playbin);
    g_object_set(device->playbin, "audio-filter", filter, "uri", uri.get(), "flags", kPlayFlagAudio,
                 nullptr);
    if (sink != nullptr) {
        g_object_set(device->playbin, "audio-sink", sink, nullptr);
    }

    // Ready to play means prerolled; a file that cannot get there is refused, within a bounded
    // wait.
    if (gst_element_set_state(device->playbin, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        return kErrCannotPlay;
    }
    const auto timeoutNs = static_cast<GstClockTime>(openTimeout_.count()) * GST_MSECOND;
    const GstStateChangeReturn ready =
        gst_element_get_state(device->playbin, nullptr, nullptr, timeoutNs);
    if (ready == GST_STATE_CHANGE_FAILURE) {
        return kErrCannotPlay;
    }
    if (ready == GST_STATE_CHANGE_ASYNC) {
        qCWarning(lcMedia, "%s: %s: not ready to play within %lld ms", command.alias.c_str(),
                  command.device.c_str(), static_cast<long long>(openTimeout_.count()));
        return kErrOpenTimeout;
    }
    device->Poll();
    if (device->failed) {
        return kErrCannotPlay;
    }
    device->WatchBus();
    RaiseSynthesizerGain(device->playbin);
    device->ApplyVolume();
    devices_.emplace(key, std::move(device));
    return kNoError;
}

MciError GstDevices::Close(const Command& command) {
    if (command.all) {
        devices_.clear();
        lingering_.clear();
        return kNoError;
    }
    const auto found = devices_.find(Lower(command.device));
    if (found == devices_.end()) {
        return kErrDeviceNotOpen;
    }
    DevicePtr device = std::move(found->second);
    devices_.erase(found);
    device->Poll();
    if (device->ended && device->mode == Device::Mode::Stopped && !device->failed) {
        Linger(std::move(device));
    }
    return kNoError;
}

MciError GstDevices::Play(Device& device, const Command& command) {
    if (device.failed) {
        return kErrDeviceFailed;
    }
    const std::int64_t length = device.LengthUnits();
    const std::int64_t from = command.from.value_or(device.PositionUnits());
    if (length >= 0 && (from > length || (command.to && *command.to > length))) {
        return kErrOutOfRange;
    }
    if (command.to && from > *command.to) {
        return kErrOutOfRange;
    }
    const gint64 unit = NanosPerUnit(device.timeFormat);
    const std::int64_t limit = std::numeric_limits<gint64>::max() / unit;
    if (from > limit || (command.to && *command.to > limit)) {
        return kErrOutOfRange;  // a file of unknown length bounds nothing, but time must fit
    }
    // A stop at the length, rounded up as it is, means the end of the file. A file whose length
    // is not known reports 0, so "to 0" then means its end too.
    const bool toEnd = !command.to || *command.to >= std::max<std::int64_t>(length, 0);
    const gint64 stopNs = toEnd ? -1 : *command.to * unit;
    if (command.from || command.to || device.mode != Device::Mode::Paused) {
        gst_element_seek(device.playbin, 1.0, GST_FORMAT_TIME,
                         static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                         GST_SEEK_TYPE_SET, from * unit, GST_SEEK_TYPE_SET, stopNs);
    }
    if (gst_element_set_state(device.playbin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        device.failed = true;
        device.mode = Device::Mode::Stopped;
        return kErrDeviceFailed;
    }
    device.mode = Device::Mode::Playing;
    device.ended = false;
    return kNoError;
}

MciError GstDevices::Status(Device& device, const Command& command, std::string& reply) {
    switch (command.item) {
        case StatusItem::Mode:
            switch (device.mode) {
                case Device::Mode::Playing:
                    reply = "playing";
                    break;
                case Device::Mode::Paused:
                    reply = "paused";
                    break;
                case Device::Mode::Stopped:
                    reply = "stopped";
                    break;
            }
            return kNoError;
        case StatusItem::Length:
            reply = std::to_string(std::max<std::int64_t>(device.LengthUnits(), 0));
            return kNoError;
        case StatusItem::Position:
            reply = std::to_string(device.PositionUnits());
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
    return device.ApplyVolume();
}

}  // namespace Platform::Mci
