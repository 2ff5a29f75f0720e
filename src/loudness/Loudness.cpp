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
    const Measurement unmeasurable{0.0, 0.0, Source::Unmeasurable};
    const std::unique_ptr<gchar, void (*)(gpointer)> uri(
        gst_filename_to_uri(path.constData(), nullptr), g_free);
    std::unique_ptr<GstElement, PipelineDeleter> pipeline(gst_parse_launch(
        "uridecodebin name=decoder ! audioconvert ! appsink name=samples sync=false "
        "max-buffers=8 caps=audio/x-raw,format=F32LE,layout=interleaved,channels=2",
        nullptr));
    if (uri == nullptr || pipeline == nullptr) {
        return unmeasurable;
    }
    GstElement* decoder = gst_bin_get_by_name(GST_BIN(pipeline.get()), "decoder");
    g_object_set(decoder, "uri", uri.get(), nullptr);
    gst_object_unref(decoder);
    GstElement* sinkElement = gst_bin_get_by_name(GST_BIN(pipeline.get()), "samples");
    auto* sink = GST_APP_SINK(sinkElement);
    gst_object_unref(sinkElement);  // the pipeline holds it
    g_signal_connect(pipeline.get(), "deep-element-added",
                     G_CALLBACK(Platform::Mci::Decoder::OnElementAdded), nullptr);
    const std::unique_ptr<GstBus, void (*)(gpointer)> bus(gst_element_get_bus(pipeline.get()),
                                                          gst_object_unref);
    gst_bus_set_sync_handler(bus.get(), LowerStreamingThreads, nullptr, nullptr);

    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        return unmeasurable;
    }
    std::unique_ptr<ebur128_state, StateDeleter> state;
    unsigned long rate = 0;
    int idlePulls = 0;
    std::optional<Measurement> tagged;
    const float silence = static_cast<float>(std::pow(10.0, kSilenceDbfs / 20.0));
    double seconds = 0.0;  // decoded so far
    double soundStart = -1.0;
    double soundEnd = -1.0;
    while (!stop.load(std::memory_order_relaxed)) {
        GstSample* sample = gst_app_sink_try_pull_sample(sink, kPullWait);
        const std::unique_ptr<GstSample, void (*)(GstSample*)> held(
            sample, [](GstSample* s) { gst_sample_unref(s); });
        BusNews news = ReadBus(bus.get(), path);
        if (news.failed) {
            return unmeasurable;
        }
        if (news.tagged && !bounds) {
            return news.tagged;
        }
        tagged = news.tagged ? news.tagged : tagged;
        if (sample == nullptr) {
            if (gst_app_sink_is_eos(sink)) {
                break;
            }
            if (++idlePulls > kPatiencePulls) {
                qCInfo(lcLoudness, "%s: the decoder stalled; measured later", path.constData());
                return std::nullopt;
            }
            continue;
        }
        idlePulls = 0;
        int sampleRate = 0;
        const GstStructure* format = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
        if (!gst_structure_get_int(format, "rate", &sampleRate) || sampleRate <= 0) {
            return unmeasurable;
        }
        if (state == nullptr) {
            state.reset(ebur128_init(kChannels, static_cast<unsigned long>(sampleRate),
                                     EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK));
        } else if (rate != static_cast<unsigned long>(sampleRate)) {
            ebur128_change_parameters(state.get(), kChannels,
                                      static_cast<unsigned long>(sampleRate));
        }
        if (state == nullptr) {
            return unmeasurable;
        }
        rate = static_cast<unsigned long>(sampleRate);
        GstMapInfo map{};
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            const auto* frames = reinterpret_cast<const float*>(map.data);
            const gsize count = map.size / (sizeof(float) * kChannels);
            ebur128_add_frames_float(state.get(), frames, count);
            constexpr gsize kStride = kChannels;
            for (gsize i = 0; i < count * kStride; ++i) {
                if (std::abs(frames[i]) > silence) {
                    const double at = seconds + static_cast<double>(i / kStride) / sampleRate;
                    soundStart = soundStart < 0 ? at : soundStart;
                    soundEnd = at + 1.0 / sampleRate;
                }
            }
            seconds += static_cast<double>(count) / sampleRate;
            gst_buffer_unmap(buffer, &map);
        }
    }
    if (stop.load(std::memory_order_relaxed)) {
        return std::nullopt;
    }
    const auto bounded = [&](Measurement m) {
        m.bounded = bounds;
        if (bounds && soundEnd > 0) {
            m.soundStartNs = static_cast<qint64>(soundStart * 1e9);
            m.soundEndNs = static_cast<qint64>(std::ceil(soundEnd * 1e9));
        }
        return m;
    };
    if (tagged) {
        return bounded(*tagged);
    }
    if (state == nullptr) {
        return bounded(Measurement{kFloorDb, kFloorDb, Source::Analysis});  // no samples at all
    }
    double loudness = kFloorDb;
    ebur128_loudness_global(state.get(), &loudness);
    double peak = 0.0;
    for (unsigned channel = 0; channel < kChannels; ++channel) {
        double channelPeak = 0.0;
        ebur128_true_peak(state.get(), channel, &channelPeak);
        peak = std::max(peak, channelPeak);
    }
    return bounded(
        Measurement{std::isfinite(loudness) ? loudness : kFloorDb, ToDb(peak), Source::Analysis});
}

}  // namespace Loudness
