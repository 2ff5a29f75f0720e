#include "platform/mci/card.h"

#include <gst/audio/gstaudiobasesink.h>

namespace Platform::Mci {

namespace {

// The sound server's buffer, and the periods it is fed in. The order of what is heard is set on
// the mix's timeline, so nothing needs a short buffer, and a short one costs wake-ups and
// dropouts. Measured from a null sink's monitor beside gst-play-1.0 (200 ms in 10 ms periods):
// 150 ms in 20 ms periods has no more dropouts than it, on PulseAudio and PipeWire, at two
// thirds of its wake-ups, and a level change heard 180 to 200 ms after it is sent. Not 200 ms:
// with the output's pace (a clocksync) that dropped out hundreds of times a minute on both servers.
constexpr gint64 kOutputBufferMicroseconds = 150'000;
constexpr gint64 kOutputPeriodMicroseconds = 20'000;

}  // namespace

GstElement* AudioBaseSink(GstElement* sink) {
    if (!GST_IS_BIN(sink)) {
        return GST_IS_AUDIO_BASE_SINK(sink) ? sink : nullptr;
    }
    GstElement* found = nullptr;
    GstIterator* children = gst_bin_iterate_recurse(GST_BIN(sink));
    GValue item = G_VALUE_INIT;
    while (found == nullptr && gst_iterator_next(children, &item) == GST_ITERATOR_OK) {
        auto* child = GST_ELEMENT(g_value_get_object(&item));
        found = GST_IS_AUDIO_BASE_SINK(child) ? child : nullptr;
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(children);
    return found;
}

GstElement* MakeOutputSink(const std::string& device) {
    GstElement* sink =
        gst_element_factory_make(device.empty() ? "autoaudiosink" : "pulsesink", nullptr);
    if (sink != nullptr && !device.empty()) {
        g_object_set(sink, "device", device.c_str(), nullptr);
    }
    return sink;
}

GstClock* CardClock(GstElement* sink, GstElement* card) {
    if (card == nullptr) {
        return gst_element_provide_clock(sink);
    }
    // Not asked of the sink: that holds the sink's lock while it waits for its ring buffer's, and
    // the streaming thread starting the ring buffer holds that one while it posts through the
    // sink, so the two could wait for each other for good. The same check, on the buffer alone.
    GstAudioBaseSink* audio = GST_AUDIO_BASE_SINK(card);
    return audio->ringbuffer != nullptr && gst_audio_ring_buffer_is_acquired(audio->ringbuffer)
               ? GST_CLOCK(gst_object_ref(audio->provided_clock))
               : nullptr;
}

bool ConnectCard(GstElement* sink) {
    // With no sound server (one restarting, say) autoaudiosink settles on a sink that plays into
    // nothing: the output must fail instead of playing silently.
    GstElement* card = gst_element_set_state(sink, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE
                           ? AudioBaseSink(sink)
                           : nullptr;
    if (card == nullptr) {
        return false;
    }
    g_object_set(card, "buffer-time", kOutputBufferMicroseconds, "latency-time",
                 kOutputPeriodMicroseconds, nullptr);
    return true;
}

}  // namespace Platform::Mci
