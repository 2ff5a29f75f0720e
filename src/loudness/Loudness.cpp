#include "loudness/Loudness.h"

#include <ebur128.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <pthread.h>
#include <sched.h>

#include <QLoggingCategory>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <string_view>

#include "platform/mci/decoder.h"

namespace Loudness {

Q_LOGGING_CATEGORY(lcLoudness, "corvane.loudness", QtWarningMsg)

namespace {

constexpr int kChannels = 2;
constexpr GstClockTime kPullWait = 100 * GST_MSECOND;  // how often `stop` is looked at
constexpr int kPatiencePulls = 300;                    // 30 s without a sample: give up for now
constexpr double kFloorDb = -200.0;                    // stands for "nothing at all"
constexpr Measurement kUnmeasurable{0.0, 0.0, Source::Unmeasurable};

double ToDb(double factor) {
    return factor > 0.0 ? std::max(20.0 * std::log10(factor), kFloorDb) : kFloorDb;
}

// The streaming threads the decoder starts are as unimportant as the worker that measures: a
// measurement must never take the processor from playback.
GstBusSyncReply LowerStreamingThreads(GstBus* /*bus*/, GstMessage* message, gpointer /*data*/) {
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_STREAM_STATUS) {
        return GST_BUS_PASS;
    }
    GstStreamStatusType type{};
    gst_message_parse_stream_status(message, &type, nullptr);
    if (type == GST_STREAM_STATUS_TYPE_ENTER) {
        const sched_param lowest{};
        pthread_setschedparam(pthread_self(), SCHED_IDLE, &lowest);
    }
    gst_message_unref(message);
    return GST_BUS_DROP;
}

struct PipelineDeleter {
    void operator()(GstElement* pipeline) const {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
};
struct StateDeleter {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};
struct ObjectDeleter {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
struct SampleDeleter {
    void operator()(GstSample* sample) const { gst_sample_unref(sample); }
};

// An Opus file's loudness from its tag "R128_TRACK_GAIN=<n>", the gain in 1/256 dB that brings it
// to -23 LUFS: GStreamer leaves the tag among the comments it does not know.
std::optional<double> OpusTrackLoudness(const GstTagList* tags) {
    constexpr std::string_view kKey = "R128_TRACK_GAIN=";
    constexpr double kReferenceLufs = -23.0;
    const guint count = gst_tag_list_get_tag_size(tags, GST_TAG_EXTENDED_COMMENT);
    for (guint i = 0; i < count; ++i) {
        const gchar* comment = nullptr;
        if (!gst_tag_list_peek_string_index(tags, GST_TAG_EXTENDED_COMMENT, i, &comment) ||
            g_ascii_strncasecmp(comment, kKey.data(), kKey.size()) != 0) {
            continue;
        }
        const std::string_view value(comment + kKey.size());
        int steps = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), steps);
        if (error == std::errc{} && end == value.data() + value.size() && steps >= -32768 &&
            steps <= 32767) {
            return kReferenceLufs - steps / 256.0;
        }
    }
    return std::nullopt;
}

// What the bus says so far: a failure, or ReplayGain tags that make decoding needless.
struct BusNews {
    bool failed = false;
    std::optional<Measurement> tagged;
};

BusNews ReadBus(GstBus* bus, const QByteArray& path) {
    BusNews news;
    while (GstMessage* message = gst_bus_pop_filtered(
               bus, static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_TAG))) {
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            if (!news.failed) {  // the first says why; the rest follow from it
                qCInfo(lcLoudness, "%s cannot be measured: %s", path.constData(),
                       error != nullptr ? error->message : "");
            }
            g_clear_error(&error);
            news.failed = true;
        } else {
            GstTagList* tags = nullptr;
            gst_message_parse_tag(message, &tags);
            double gain = 0.0;
            double peak = 1.0;  // unknown: assume full scale, the safe side
            gst_tag_list_get_double(tags, GST_TAG_TRACK_PEAK, &peak);
            if (gst_tag_list_get_double(tags, GST_TAG_TRACK_GAIN, &gain)) {
                news.tagged = Measurement{kTargetLufs - gain, ToDb(peak), Source::Tags};
            } else if (const std::optional<double> lufs = OpusTrackLoudness(tags)) {
                news.tagged = Measurement{*lufs, ToDb(peak), Source::Tags};
            }
            gst_tag_list_unref(tags);
        }
        gst_message_unref(message);
    }
    return news;
}

// Where a file's sound starts and ends: its first and last sample above digital silence.
class SoundBounds {
public:
    void Scan(const float* frames, gsize count, int rate) {
        for (gsize i = 0; i < count * kChannels; ++i) {
            if (std::abs(frames[i]) > silence_) {
                const double at = seconds_ + static_cast<double>(i / kChannels) / rate;
                start_ = start_ < 0 ? at : start_;
                end_ = at + 1.0 / rate;
            }
        }
        seconds_ += static_cast<double>(count) / rate;
    }
    // `m` as a measurement made with or without the bounds.
    Measurement Bounded(Measurement m, bool bounds) const {
        m.bounded = bounds;
        if (bounds && end_ > 0) {
            m.soundStartNs = static_cast<qint64>(start_ * 1e9);
            m.soundEndNs = static_cast<qint64>(std::ceil(end_ * 1e9));
        }
        return m;
    }

private:
    const float silence_ = static_cast<float>(std::pow(10.0, kSilenceDbfs / 20.0));
    double seconds_ = 0.0;  // scanned so far
    double start_ = -1.0;
    double end_ = -1.0;
};

// Integrated loudness and true peak of everything added, at the rate of the latest samples.
class Meter {
public:
    // False when the meter cannot be had for that rate.
    bool SetRate(int sampleRate) {
        const auto rate = static_cast<unsigned long>(sampleRate);
        if (state_ == nullptr) {
            state_.reset(ebur128_init(kChannels, rate, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK));
        } else if (rate != rate_) {
            ebur128_change_parameters(state_.get(), kChannels, rate);
        }
        rate_ = rate;
        return state_ != nullptr;
    }
    void Add(const float* frames, gsize count) {
        ebur128_add_frames_float(state_.get(), frames, count);
    }
    Measurement Result() const {
        if (state_ == nullptr) {
            return {kFloorDb, kFloorDb, Source::Analysis};  // no samples at all
        }
        double loudness = kFloorDb;
        ebur128_loudness_global(state_.get(), &loudness);
        double peak = 0.0;
        for (unsigned channel = 0; channel < kChannels; ++channel) {
            double channelPeak = 0.0;
            ebur128_true_peak(state_.get(), channel, &channelPeak);
            peak = std::max(peak, channelPeak);
        }
        return {std::isfinite(loudness) ? loudness : kFloorDb, ToDb(peak), Source::Analysis};
    }

private:
    std::unique_ptr<ebur128_state, StateDeleter> state_;
    unsigned long rate_ = 0;
};

// A file decoding to interleaved stereo floats, as fast as they are taken from `sink`.
struct Decoding {
    std::unique_ptr<GstElement, PipelineDeleter> pipeline;
    GstAppSink* sink = nullptr;  // the pipeline holds it
    std::unique_ptr<GstBus, ObjectDeleter> bus;
};

std::optional<Decoding> StartDecoding(const QByteArray& path) {
    const std::unique_ptr<gchar, void (*)(gpointer)> uri(
        gst_filename_to_uri(path.constData(), nullptr), g_free);
    Decoding decoding;
    decoding.pipeline.reset(gst_parse_launch(
        "uridecodebin name=decoder ! audioconvert ! appsink name=samples sync=false "
        "max-buffers=8 caps=audio/x-raw,format=F32LE,layout=interleaved,channels=2",
        nullptr));
    if (uri == nullptr || decoding.pipeline == nullptr) {
        return std::nullopt;
    }
    GstBin* bin = GST_BIN(decoding.pipeline.get());
    GstElement* decoder = gst_bin_get_by_name(bin, "decoder");
    g_object_set(decoder, "uri", uri.get(), nullptr);
    gst_object_unref(decoder);
    GstElement* sink = gst_bin_get_by_name(bin, "samples");
    decoding.sink = GST_APP_SINK(sink);
    gst_object_unref(sink);
    g_signal_connect(bin, "deep-element-added", G_CALLBACK(Platform::Mci::Decoder::OnElementAdded),
                     nullptr);
    decoding.bus.reset(gst_element_get_bus(decoding.pipeline.get()));
    gst_bus_set_sync_handler(decoding.bus.get(), LowerStreamingThreads, nullptr, nullptr);
    if (gst_element_set_state(decoding.pipeline.get(), GST_STATE_PLAYING) ==
        GST_STATE_CHANGE_FAILURE) {
        return std::nullopt;
    }
    return decoding;
}

// Gives a sample to the meter and the bounds; false when its format cannot be measured.
bool TakeSample(GstSample* sample, Meter& meter, SoundBounds& sound) {
    int rate = 0;
    const GstStructure* format = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    if (!gst_structure_get_int(format, "rate", &rate) || rate <= 0 || !meter.SetRate(rate)) {
        return false;
    }
    GstMapInfo map{};
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        const auto* frames = reinterpret_cast<const float*>(map.data);
        const gsize count = map.size / (sizeof(float) * kChannels);
        meter.Add(frames, count);
        sound.Scan(frames, count, rate);
        gst_buffer_unmap(buffer, &map);
    }
    return true;
}

// Takes every sample to the end, unless tags say the loudness first and no bounds are wanted.
std::optional<Measurement> Decode(const Decoding& decoding, const QByteArray& path,
                                  const std::atomic<bool>& stop, bool bounds) {
    Meter meter;
    SoundBounds sound;
    std::optional<Measurement> tagged;
    int idlePulls = 0;
    while (!stop.load(std::memory_order_relaxed)) {
        const std::unique_ptr<GstSample, SampleDeleter> sample(
            gst_app_sink_try_pull_sample(decoding.sink, kPullWait));
        BusNews news = ReadBus(decoding.bus.get(), path);
        if (news.failed) {
            return kUnmeasurable;
        }
        if (news.tagged && !bounds) {
            return news.tagged;
        }
        tagged = news.tagged ? news.tagged : tagged;
        if (sample == nullptr) {
            if (gst_app_sink_is_eos(decoding.sink)) {
                break;
            }
            if (++idlePulls > kPatiencePulls) {
                qCInfo(lcLoudness, "%s: the decoder stalled; measured later", path.constData());
                return std::nullopt;
            }
            continue;
        }
        idlePulls = 0;
        if (!TakeSample(sample.get(), meter, sound)) {
            return kUnmeasurable;
        }
    }
    if (stop.load(std::memory_order_relaxed)) {
        return std::nullopt;
    }
    return sound.Bounded(tagged ? *tagged : meter.Result(), bounds);
}

}  // namespace

double GainDb(const Measurement& measurement) {
    if (measurement.source == Source::Unmeasurable || measurement.integratedLufs < kSilenceLufs) {
        return 0.0;
    }
    return std::min({kTargetLufs - measurement.integratedLufs,
                     kPeakCeilingDbtp - measurement.truePeakDbtp, kMaxGainDb});
}

double GainFactor(const Measurement& measurement) {
    return std::pow(10.0, GainDb(measurement) / 20.0);
}

std::optional<Measurement> Measure(const QByteArray& path, const std::atomic<bool>& stop,
                                   bool bounds) {
    Platform::Mci::Decoder::Init();
    const std::optional<Decoding> decoding = StartDecoding(path);
    if (!decoding) {
        return kUnmeasurable;
    }
    return Decode(*decoding, path, stop, bounds);
}

}  // namespace Loudness
