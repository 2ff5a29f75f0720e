#include "platform/mci/output.h"

#include "platform/mci/card.h"
#include "platform/mci/elements.h"
#include "platform/mci/log.h"

namespace Platform::Mci {

namespace {

// How long a new output's caller waits for the sound server to take or refuse it.
constexpr std::chrono::milliseconds kRefusedWithin{80};

// The starting input's buffers.
constexpr int kSilenceSamplesPerBuffer = 44'100 * kMixBuffer.count() / 1000;

gint64 SteadyNs() {
    return g_get_monotonic_time() * 1000;
}

GstElement* Make(const char* factory) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (element == nullptr) {
        qCWarning(lcMedia, "the GStreamer element %s is missing", factory);
    }
    return element;
}

// A filter that holds what passes it to the mix's format; null when the element is missing.
GstElement* MakeMixFormat() {
    GstElement* filter = Make("capsfilter");
    if (filter != nullptr) {
        GstCaps* caps = gst_caps_from_string(kMixCaps);
        g_object_set(filter, "caps", caps, nullptr);
        gst_caps_unref(caps);
    }
    return filter;
}

}  // namespace

std::unique_ptr<Output> Output::Start(const SinkFactory& sinkFactory, const std::string& device,
                                      QuietMeter* meter) {
    GstElement* sink = sinkFactory ? sinkFactory() : MakeOutputSink(device);
    if (sink == nullptr) {
        return nullptr;
    }
    gst_object_ref_sink(sink);
    std::unique_ptr<Output> output(new Output);
    output->pipeline_ = gst_pipeline_new("output");
    output->bus_ = gst_element_get_bus(output->pipeline_);
    output->sink_ = sink;
    output->meter_ = meter;
    gst_bin_add(GST_BIN(output->pipeline_), sink);  // the pipeline's now; ours is dropped below
    gst_object_unref(sink);
    if (!output->BuildMix()) {
        return nullptr;
    }
    // A silent live input for the start alone: moving to the card's clock, the mixer and the
    // pace wait on a clock that runs only while the card is fed, and now and then (two starts in
    // a thousand) neither fed it first, so the output never played. The input's own thread feeds
    // the card whatever the clock does.
    output->starter_ = output->AddStarter();
    if (output->starter_.source == nullptr) {
        return nullptr;
    }
    output->connection_ = std::make_shared<Connection>();
    std::future<bool> connected = output->connection_->answer.get_future();
    output->starting_ =
        std::thread(&Output::Starting, output.get(), output->connection_,
                    sinkFactory ? nullptr : GST_ELEMENT(gst_object_ref(output->sink_)));
    // No sound server refuses at once, and is told so by the caller's answer; a slow one is
    // waited for on the output's thread, and a refusal from it comes as the event.
    if (connected.wait_for(kRefusedWithin) == std::future_status::ready && !connected.get()) {
        return nullptr;
    }
    return output;
}

// Until the sound server answers, only `sink` and the connection are used: an output stopped
// meanwhile may be gone when it does. `sink`: a reference of its own, or null for a sink that
// needs no connecting.
void Output::Starting(Output* self, std::shared_ptr<Connection> connection, GstElement* sink) {
    const bool ready = sink == nullptr || ConnectCard(sink);
    connection->answer.set_value(ready);
    {
        const std::lock_guard<std::mutex> hold(connection->lock);
        if (connection->abandoned) {
            if (sink != nullptr) {
                gst_element_set_state(sink, GST_STATE_NULL);
                gst_object_unref(sink);
            }
            return;
        }
        connection->done = true;
    }
    if (sink != nullptr) {
        gst_object_unref(sink);
    }
    const bool playing = ready && self->PlayOnCardClock();
    self->RemoveStarter(self->starter_);
    if (playing) {
        self->clock_ = gst_element_get_clock(self->pipeline_);
        self->AskLatency();
        self->started_ = true;
    }
    gst_element_post_message(self->pipeline_,
                             gst_message_new_application(
                                 GST_OBJECT(self->pipeline_),
                                 gst_structure_new("corvane", "event", G_TYPE_STRING, "output",
                                                   "playing", G_TYPE_BOOLEAN, playing, nullptr)));
}

bool Output::BuildMix() {
    // Live by itself: it mixes on time whether or not anything plays, so a paused, prerolling or
    // failed input never stalls the others, and no source's thread wakes at every buffer.
    mixer_ = gst_element_factory_make_full("audiomixer", "force-live", TRUE, nullptr);
    if (mixer_ == nullptr) {
        qCWarning(lcMedia, "the GStreamer element audiomixer is missing");
    }
    GstElement* mixCaps = MakeMixFormat();  // no input may be there to set the format
    // Holds each mix back to its time on the clock: the inputs' data runs no further ahead of
    // what is heard than the output's latency, whatever the sound server accepts in advance.
    // PipeWire takes far more than it asks for: without the pace, a level change was heard
    // 600 ms after it was sent there.
    GstElement* pace = Make("clocksync");
    GstElement* convert = Make("audioconvert");
    if (mixer_ == nullptr || mixCaps == nullptr || pace == nullptr || convert == nullptr) {
        GstElement* made[] = {mixer_, mixCaps, pace, convert};
        Discard(made);
        mixer_ = nullptr;
        return false;
    }
    // A device whose file has not reached the mixer yet must not hold the others back.
    g_object_set(mixer_, "ignore-inactive-pads", TRUE, "output-buffer-duration",
                 static_cast<guint64>(std::chrono::nanoseconds(kMixBuffer).count()), nullptr);
    // Some slack for a strip's thread to deliver its next buffer: without it a busy machine makes
    // the mixer go on without that strip for a few milliseconds, a dropout heard as a click.
    g_object_set(mixer_, "latency",
                 static_cast<GstClockTime>(std::chrono::nanoseconds(kMixerSlack).count()), nullptr);
    gst_bin_add_many(GST_BIN(pipeline_), mixer_, mixCaps, pace, convert, nullptr);
    WatchMixed();
    return gst_element_link_many(mixer_, mixCaps, pace, convert, sink_, nullptr);
}

void Output::WatchMixed() {
    GstPad* mixed = gst_element_get_static_pad(mixer_, "src");
    gst_pad_add_probe(
        mixed, GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad* /*pad*/, GstPadProbeInfo* info, gpointer self) {
            GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
            auto* output = static_cast<Output*>(self);
            if (GST_BUFFER_PTS_IS_VALID(buffer) && GST_BUFFER_DURATION_IS_VALID(buffer)) {
                output->NoteMixed(GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer));
            }
            if (output->meter_ != nullptr && output->meter_->On()) {
                GstMapInfo map{};
                if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
                    output->meter_->Add(
                        {reinterpret_cast<const float*>(map.data), map.size / sizeof(float)},
                        SteadyNs());
                    gst_buffer_unmap(buffer, &map);
                }
            }
            return GST_PAD_PROBE_OK;
        },
        this, nullptr);
    gst_object_unref(mixed);
}

void Output::NoteMixed(GstClockTime end) {
    // The lead decays, so that a lasting change of pace is followed (a stall of the sound server
    // leaves the mix behind the steady clock), by 0.5 ms a 10 ms step of a fade, not by a jump
    // that would bunch the changes placed from it; and never holds more than the bursts' spread.
    constexpr gint64 kDecayPerSecond = 20;  // 50 ms a second
    constexpr gint64 kSpread = 150 * GST_MSECOND;
    const gint64 steady = SteadyNs();
    const gint64 ahead = static_cast<gint64>(end) - steady;
    const gint64 decayed = mixAhead_.load() - (steady - mixAheadAt_) / kDecayPerSecond;
    mixAhead_ = mixAheadAt_ == 0 ? ahead : std::clamp(decayed, ahead, ahead + kSpread);
    mixAheadAt_ = steady;
    mixed_ = end;
}

GstClockTime Output::MixNow() const {
    if (Mixed() == 0) {
        return 0;
    }
    const gint64 now = SteadyNs() + mixAhead_.load();
    return std::max(Mixed(), now > 0 ? static_cast<GstClockTime>(now) : 0);
}

Output::Starter Output::AddStarter() {
    Starter starter{Make("audiotestsrc"), MakeMixFormat(), nullptr};
    if (starter.source == nullptr || starter.caps == nullptr) {
        GstElement* made[] = {starter.source, starter.caps};
        Discard(made);
        return {};
    }
    g_object_set(starter.source, "wave", 4 /* silence */, "is-live", TRUE, "samplesperbuffer",
                 kSilenceSamplesPerBuffer, nullptr);
    gst_bin_add_many(GST_BIN(pipeline_), starter.source, starter.caps, nullptr);
    starter.input = RequestInput();
    GstPad* out = gst_element_get_static_pad(starter.caps, "src");
    const bool linked = gst_element_link(starter.source, starter.caps) &&
                        gst_pad_link(out, starter.input) == GST_PAD_LINK_OK;
    gst_object_unref(out);
    if (!linked) {
        RemoveStarter(starter);
        return {};
    }
    return starter;
}

void Output::RemoveStarter(const Starter& starter) {
    // Its thread may be waiting in the mixer's input for the mix to move on, holding its own
    // stream lock, and the mix may be waiting on a clock that stands while the sound server goes
    // away. So the input goes first, which wakes that thread, and what the thread sends meanwhile
    // goes nowhere; only then does the source stop.
    GstPad* out = gst_element_get_static_pad(starter.caps, "src");
    gst_pad_add_probe(
        out,
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM |
                                     GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM),
        [](GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_DROP; }, nullptr, nullptr);
    gst_object_unref(out);
    if (starter.input != nullptr) {
        ReleaseInput(starter.input);
    }
    for (GstElement* element : {starter.source, starter.caps}) {
        gst_element_set_locked_state(element, TRUE);
        gst_element_set_state(element, GST_STATE_NULL);
    }
    gst_bin_remove_many(GST_BIN(pipeline_), starter.source, starter.caps, nullptr);
}

bool Output::PlayOnCardClock() {
    // Playing within a bound; what stopped it is logged, for a start that fails only now and then.
    // Waits in short steps, so that an output dropped meanwhile is let go at once.
    const auto play = [this](const char* step) {
        GstStateChangeReturn result = stopping_
                                          ? GST_STATE_CHANGE_FAILURE
                                          : gst_element_set_state(pipeline_, GST_STATE_PLAYING);
        for (int i = 0; i < 30 && result != GST_STATE_CHANGE_FAILURE &&
                        result != GST_STATE_CHANGE_SUCCESS && !stopping_;
             ++i) {
            result = gst_element_get_state(pipeline_, nullptr, nullptr, 100 * GST_MSECOND);
        }
        if (result != GST_STATE_CHANGE_SUCCESS && !stopping_) {
            qCWarning(lcMedia, "the output did not play %s: %s", step,
                      gst_element_state_change_return_get_name(result));
        }
        return result == GST_STATE_CHANGE_SUCCESS;
    };
    if (!play("at first")) {
        return false;
    }
    // A live pipeline picks its clock before the sink can offer one: it would run on the system
    // clock, and the sink would correct the drift from the sound card by skipping samples. Once
    // the sink has its format it offers the card's clock, taken by going to playing again.
    GstPad* sinkPad = gst_element_get_static_pad(sink_, "sink");
    for (int i = 0; i < 100 && !gst_pad_has_current_caps(sinkPad) && !stopping_; ++i) {
        g_usleep(10'000);
    }
    gst_object_unref(sinkPad);
    if (GstClock* cardClock = CardClock(sink_, AudioBaseSink(sink_))) {
        gst_pipeline_use_clock(GST_PIPELINE(pipeline_), cardClock);
        gst_object_unref(cardClock);
    }
    if (!stopping_) {
        gst_element_set_state(pipeline_, GST_STATE_PAUSED);
    }
    return play("on the card's clock");
}

void Output::Stop() {
    stopping_ = true;
    if (starting_.joinable()) {
        if (Abandon()) {
            starting_.detach();
        } else {
            starting_.join();
        }
    }
    if (pipeline_ != nullptr) {
        gst_element_set_state(pipeline_, GST_STATE_NULL);
    }
}

bool Output::Abandon() {
    const std::lock_guard<std::mutex> hold(connection_->lock);
    if (connection_->done) {
        return false;
    }
    connection_->abandoned = true;
    // Out of the pipeline, whose stop would wait on the connection's state change: the starting
    // thread lets it go once the server answers, if ever.
    gst_bin_remove(GST_BIN(pipeline_), sink_);
    sink_ = nullptr;
    RemoveStarter(starter_);  // which that thread would have done
    return true;
}

Output::~Output() {
    Stop();
    // What is still on the bus goes: a message holds the pipeline, and the pipeline its bus, so
    // an output refused before it ever played (its "output" event unread) was never freed.
    if (bus_ != nullptr) {
        gst_bus_set_flushing(bus_, TRUE);
    }
    if (pipeline_ != nullptr) {
        gst_object_unref(pipeline_);
    }
    if (bus_ != nullptr) {
        gst_object_unref(bus_);
    }
    if (clock_ != nullptr) {
        gst_object_unref(clock_);
    }
}

GstClockTime Output::Now() const {
    if (clock_ == nullptr) {
        return 0;
    }
    // The card's clock may start after the pipeline did, so the base time can lie before the
    // clock's zero, stored as a wrapped unsigned value: the difference is taken signed.
    const auto running =
        static_cast<gint64>(gst_clock_get_time(clock_) - gst_element_get_base_time(pipeline_));
    return running > 0 ? static_cast<GstClockTime>(running) : 0;
}

void Output::UpdateLatency() {
    if (Started()) {
        AskLatency();
    }
}

void Output::AskLatency() {
    gst_bin_recalculate_latency(GST_BIN(pipeline_));
    GstQuery* query = gst_query_new_latency();
    if (gst_element_query(pipeline_, query)) {
        gboolean live = FALSE;
        GstClockTime min = 0;
        gst_query_parse_latency(query, &live, &min, nullptr);
        latency_ = GST_CLOCK_TIME_IS_VALID(min) ? min : 0;
    }
    gst_query_unref(query);
}

GstPad* Output::RequestInput() {
    return gst_element_request_pad_simple(mixer_, "sink_%u");
}

void Output::ReleaseInput(GstPad* pad) {
    gst_element_release_request_pad(mixer_, pad);
    gst_object_unref(pad);
}

bool Output::Owns(GstObject* object) const {
    for (GstElement* element : {mixer_, sink_}) {
        if (element != nullptr && (object == GST_OBJECT(element) ||
                                   gst_object_has_as_ancestor(object, GST_OBJECT(element)))) {
            return true;
        }
    }
    return object == GST_OBJECT(pipeline_);
}

}  // namespace Platform::Mci
