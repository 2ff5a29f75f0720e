#include "platform/mci/device.h"

#include <gst/controller/gstdirectcontrolbinding.h>
#include <gst/controller/gstinterpolationcontrolsource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/mci/decoder.h"
#include "platform/mci/output.h"

namespace Platform::Mci {

namespace {

// A level command reaches its new level over this long, so that a step is a ramp and not a click.
constexpr GstClockTime kLevelRamp = 10 * GST_MSECOND;
// Past level points kept for a strip; older ones are dropped as new ones come.
constexpr GstClockTime kLevelHistory = GST_SECOND;

std::atomic<std::uint64_t> nextStripId{1};

void PostEvent(GstElement* from, const char* event, const char* key, std::uint64_t id,
               GstClockTime at = 0) {
    gst_element_post_message(
        from, gst_message_new_application(
                  GST_OBJECT(from),
                  gst_structure_new("corvane", "event", G_TYPE_STRING, event, key, G_TYPE_UINT64,
                                    id, "at", G_TYPE_UINT64, static_cast<guint64>(at), nullptr)));
}

// Downstream first: a pad that goes flushing frees a thread blocked further down before the
// elements upstream wait for it. Each is locked in its state first: the pipeline, finishing a
// state change that a newly added source began, would otherwise set them all playing again,
// and one removed while playing keeps a streaming thread that nothing stops.
void StopAll(GstElement* const* elements, std::size_t count) {
    for (std::size_t i = count; i-- > 0;) {
        if (elements[i] != nullptr) {
            gst_element_set_locked_state(elements[i], TRUE);
            gst_element_set_state(elements[i], GST_STATE_NULL);
        }
    }
}

void RemoveAll(GstElement* pipeline, GstElement* const* elements, std::size_t count) {
    StopAll(elements, count);
    for (std::size_t i = 0; i < count; ++i) {
        if (elements[i] != nullptr) {
            gst_bin_remove(GST_BIN(pipeline), elements[i]);
        }
    }
}

// Into a pipeline that may be playing, held in their state: a pipeline finishing a state change
// sets all it holds playing, and a decoder started before its pads are watched and its output
// linked pushes into nothing and fails ("not-linked").
void AddHeld(GstElement* pipeline, GstElement* const* elements, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (elements[i] != nullptr) {
            gst_element_set_locked_state(elements[i], TRUE);
            gst_bin_add(GST_BIN(pipeline), elements[i]);
        }
    }
}

// Lets them follow the pipeline again, downstream first, so that each finds the next one running.
void StartAll(GstElement* const* elements, std::size_t count) {
    for (std::size_t i = count; i-- > 0;) {
        if (elements[i] != nullptr) {
            gst_element_set_locked_state(elements[i], FALSE);
            gst_element_sync_state_with_parent(elements[i]);
        }
    }
}

bool OwnsAny(GstObject* object, GstElement* const* elements, std::size_t count) {
    return std::any_of(elements, elements + count, [object](GstElement* element) {
        return element != nullptr && (object == GST_OBJECT(element) ||
                                      gst_object_has_as_ancestor(object, GST_OBJECT(element)));
    });
}

}  // namespace

// A strip: the sources that play one after another on a device (concat), made one timeline
// (identity single-segment), cut into 10 ms buffers so that data never runs far ahead of the mix,
// then the level, the crossfade's envelope and the balance, into one input of the mixer at a
// running-time offset.
struct Strip {
    explicit Strip(Output& mix) : output(mix), id(nextStripId++) {}
    ~Strip() {
        LeaveMixer();
        RemoveAll(output.Pipeline(), elements, std::size(elements));
    }

    static GstPadProbeReturn OnData(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer self) {
        auto* strip = static_cast<Strip*>(self);
        if ((GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
            GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
            const GstClockTime pts = GST_BUFFER_PTS(buffer);
            if (!strip->seenBuffer) {
                strip->StartNoEarlierThanNow(pts);
            }
            if (strip->shift != 0 && GST_CLOCK_TIME_IS_VALID(pts)) {
                buffer = gst_buffer_make_writable(buffer);
                GST_BUFFER_PTS(buffer) = pts + strip->shift;
                GST_PAD_PROBE_INFO_DATA(info) = buffer;
            }
            if (strip->switching.exchange(false)) {
                PostEvent(strip->level, "switched", "strip", strip->id, pts + strip->offset);
            }
            // One strip plays without a break: a new file's first buffer is not a new start for
            // the mixer, whose alignment then places its samples right after the last ones.
            if (strip->seenBuffer.exchange(true) && GST_BUFFER_IS_DISCONT(buffer)) {
                buffer = gst_buffer_make_writable(buffer);
                GST_BUFFER_FLAG_UNSET(buffer, GST_BUFFER_FLAG_DISCONT);
                GST_PAD_PROBE_INFO_DATA(info) = buffer;
            }
            if (GST_CLOCK_TIME_IS_VALID(pts) && GST_BUFFER_DURATION_IS_VALID(buffer)) {
                strip->lastEnd = pts + GST_BUFFER_DURATION(buffer);
            }
        } else if (GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info)) {
            if (GST_EVENT_TYPE(event) == GST_EVENT_STREAM_START && strip->seenBuffer) {
                strip->switching = true;
            } else if (GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
                PostEvent(strip->level, "ended", "strip", strip->id,
                          strip->lastEnd.load() + strip->offset);
            }
        }
        return GST_PAD_PROBE_OK;
    }

    // A first buffer that comes after its mix time (a slow decoder, a busy machine) would have its
    // start cut off by the mixer: the whole strip plays later instead, its data shifted, and its
    // owner is told. The mixer's own pace lags the clock, so a little after now is still in time.
    void StartNoEarlierThanNow(GstClockTime pts) {
        constexpr GstClockTime kMargin = 10 * GST_MSECOND;
        const GstClockTime now = output.Now();
        if (!GST_CLOCK_TIME_IS_VALID(pts) || pts + offset >= now) {
            return;
        }
        shift = now + kMargin - (pts + offset);
        offset += shift;
        PostEvent(level, "moved", "strip", id, offset);
    }

    bool Build(GstClockTime at, double initialLevel, float balance) {
        const char* factories[] = {"concat", "identity", "audiobuffersplit",
                                   "volume", "volume",   "audiopanorama"};
        for (std::size_t i = 0; i < std::size(elements); ++i) {
            elements[i] = gst_element_factory_make(factories[i], nullptr);
            if (elements[i] == nullptr && i < 5) {
                Discard(elements);
                return false;
            }
        }
        concat = elements[0];
        level = elements[3];
        envelope = elements[4];
        panorama = elements[5];
        g_object_set(elements[1], "single-segment", TRUE, nullptr);
        g_object_set(elements[2], "output-buffer-duration", static_cast<gint>(kMixBuffer.count()),
                     1000, nullptr);
        if (panorama != nullptr) {
            g_object_set(panorama, "method", 1 /* simple */, "panorama", balance, nullptr);
        }
        AddHeld(output.Pipeline(), elements, std::size(elements));
        gst_element_link_many(concat, elements[1], elements[2], level, envelope, panorama, nullptr);

        // The level follows a curve in the strip's running time, so a change lands at the mix
        // time it was meant for, however far ahead of the mix the data is.
        curve = gst_interpolation_control_source_new();
        g_object_set(curve, "mode", GST_INTERPOLATION_MODE_LINEAR, nullptr);
        gst_object_add_control_binding(GST_OBJECT(level), gst_direct_control_binding_new_absolute(
                                                              GST_OBJECT(level), "volume", curve));
        gst_object_unref(curve);  // the binding holds it
        gst_timed_value_control_source_set(GST_TIMED_VALUE_CONTROL_SOURCE(curve), 0, initialLevel);

        offset = at;
        out = gst_element_get_static_pad(panorama != nullptr ? panorama : envelope, "src");
        gst_object_unref(out);  // the element holds it
        gst_pad_set_offset(out, static_cast<gint64>(at));
        gst_pad_add_probe(out,
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          &Strip::OnData, this, nullptr);
        mixerPad = output.RequestInput();
        return mixerPad != nullptr && gst_pad_link(out, mixerPad) == GST_PAD_LINK_OK;
    }

    void Start() { StartAll(elements, std::size(elements)); }

    // Leaves the mixer at once: what is still queued for it is dropped, and nothing that comes
    // after is pushed into a pad that is gone.
    void LeaveMixer() {
        if (mixerPad == nullptr) {
            return;
        }
        gst_pad_add_probe(
            out, GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM,
            [](GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_DROP; }, nullptr,
            nullptr);
        gst_pad_unlink(out, mixerPad);
        output.ReleaseInput(std::exchange(mixerPad, nullptr));
    }

    void SetLevel(double value, GstClockTime at) {
        const GstClockTime t = at > offset ? at - offset : 0;
        auto* points = GST_TIMED_VALUE_CONTROL_SOURCE(curve);
        gdouble now = value;
        gst_control_source_get_value(curve, t, &now);
        GList* all = gst_timed_value_control_source_get_all(points);
        for (GList* item = all; item != nullptr; item = item->next) {
            const GstClockTime when = static_cast<GstTimedValue*>(item->data)->timestamp;
            if (when >= t || when + kLevelHistory < t) {
                gst_timed_value_control_source_unset(points, when);
            }
        }
        g_list_free(all);
        gst_timed_value_control_source_set(points, t, now);
        gst_timed_value_control_source_set(points, t + kLevelRamp, value);
    }

    // An equal-power crossfade's half over [at, at + length) in mix time: a rise from silence
    // (sine) or a fall to it (cosine), so that the two halves' powers sum to one throughout.
    // What the envelope did before `at` (the rise of the crossfade this file came in by) stays.
    // Until its first point the envelope's element passes the data untouched.
    void SetEnvelope(GstClockTime at, GstClockTime length, bool rise) {
        if (envelopeCurve == nullptr) {
            envelopeCurve = gst_interpolation_control_source_new();
            g_object_set(envelopeCurve, "mode", GST_INTERPOLATION_MODE_LINEAR, nullptr);
            gst_object_add_control_binding(GST_OBJECT(envelope),
                                           gst_direct_control_binding_new_absolute(
                                               GST_OBJECT(envelope), "volume", envelopeCurve));
            gst_object_unref(envelopeCurve);
        }
        const GstClockTime start = EnvelopeFrom(at);
        auto* points = GST_TIMED_VALUE_CONTROL_SOURCE(envelopeCurve);
        if (start > 0 && gst_timed_value_control_source_get_count(points) == 0) {
            gst_timed_value_control_source_set(points, 0, rise ? 0.0 : 1.0);  // until then
        }
        // Straight pieces this short stay within 0.01 % of the curve.
        constexpr int kPieces = 64;
        for (int i = 0; i <= kPieces; ++i) {
            const double x = static_cast<double>(i) / kPieces;
            const double gain = rise ? std::sin(x * M_PI / 2) : std::cos(x * M_PI / 2);
            gst_timed_value_control_source_set(
                points, start + static_cast<GstClockTime>(x * static_cast<double>(length)), gain);
        }
    }

    // Full from `at` on again, for a fall called off before it began.
    void ClearEnvelope(GstClockTime at) {
        if (envelopeCurve != nullptr) {
            const GstClockTime start = EnvelopeFrom(at);
            gst_timed_value_control_source_set(GST_TIMED_VALUE_CONTROL_SOURCE(envelopeCurve), start,
                                               1.0);
        }
    }

    // The strip's time for mix time `at`, with the envelope's points from there on gone.
    GstClockTime EnvelopeFrom(GstClockTime at) {
        const GstClockTime start = at > offset ? at - offset : 0;
        auto* points = GST_TIMED_VALUE_CONTROL_SOURCE(envelopeCurve);
        GList* all = gst_timed_value_control_source_get_all(points);
        for (GList* item = all; item != nullptr; item = item->next) {
            const GstClockTime when = static_cast<GstTimedValue*>(item->data)->timestamp;
            if (when >= start) {
                gst_timed_value_control_source_unset(points, when);
            }
        }
        g_list_free(all);
        return start;
    }

    // At a source's end, before the next one on the strip takes over: the next one's file must
    // still be there, or it is let go and the strip ends.
    void CheckFollower(Device* ending) {
        const std::lock_guard lock(cueLock);
        struct stat info {};
        if (follower == nullptr || follower == ending ||
            ::stat(follower->file.c_str(), &info) == 0) {
            return;
        }
        follower->letGo = true;
        gst_pad_unlink(followerOut, followerPad);
        gst_element_release_request_pad(concat, followerPad);
        gst_object_unref(followerPad);
        followerPad = nullptr;
        PostEvent(level, "dropped", "device", follower->id);
        follower = nullptr;
    }

    Output& output;
    const std::uint64_t id;
    // concat, identity, split, level, envelope, panorama (may be missing)
    GstElement* elements[6] = {};
    GstElement* concat = nullptr;
    GstElement* level = nullptr;
    GstElement* envelope = nullptr;
    GstElement* panorama = nullptr;
    GstControlSource* curve = nullptr;          // held by the level's binding
    GstControlSource* envelopeCurve = nullptr;  // held by the envelope's binding, once made
    GstPad* out = nullptr;
    GstPad* mixerPad = nullptr;
    std::atomic<GstClockTime> offset{0};  // the mix time the strip's time 0 plays at
    GstClockTime shift = 0;  // added to the data's times after a late start; the streaming thread's
    std::atomic<GstClockTime> lastEnd{0};
    std::atomic<bool> seenBuffer{false};
    std::atomic<bool> switching{false};

    std::mutex cueLock;  // the follower, touched by the ending source's thread
    Device* follower = nullptr;
    GstPad* followerPad = nullptr;  // its input of the concat, a reference of ours
    GstPad* followerOut = nullptr;
};

Device::Device(Output& output, std::uint64_t serial, std::string openedAs, std::string path)
    : alias(std::move(openedAs)), file(std::move(path)), id(serial), output_(output) {}

Device::~Device() {
    Abandon();
}

void Device::Abandon() {
    Detach();
    if (out_ != nullptr) {
        RemoveAll(output_.Pipeline(), elements_, std::size(elements_));
    } else {
        Discard(elements_);
    }
    std::fill(std::begin(elements_), std::end(elements_), nullptr);
    out_ = nullptr;
    holdProbe_ = 0;
}

void Device::Post(const char* event) const {
    PostEvent(elements_[4], event, "device", id);
}

GstPadProbeReturn Device::OnHeld(GstPad* /*pad*/, GstPadProbeInfo* /*info*/, gpointer self) {
    auto* device = static_cast<Device*>(self);
    if (!device->prerolled_.exchange(true)) {
        device->Post("held");
    }
    return GST_PAD_PROBE_OK;  // and stay held
}

GstPadProbeReturn Device::OnSourceEvent(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer self) {
    auto* device = static_cast<Device*>(self);
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) != GST_EVENT_EOS) {
        return GST_PAD_PROBE_OK;
    }
    if (Strip* strip = device->feeding_.load()) {
        strip->CheckFollower(device);
    } else {
        device->empty_ = true;
        if (!device->prerolled_.exchange(true)) {
            device->Post("held");
        }
    }
    return GST_PAD_PROBE_OK;
}

void Device::OnPadAdded(GstElement* /*decoder*/, GstPad* pad, gpointer self) {
    auto* device = static_cast<Device*>(self);
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (caps == nullptr) {
        caps = gst_pad_query_caps(pad, nullptr);
    }
    const bool audio =
        caps != nullptr && gst_caps_get_size(caps) > 0 &&
        g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/x-raw");
    if (caps != nullptr) {
        gst_caps_unref(caps);
    }
    GstPad* sink = gst_element_get_static_pad(device->elements_[1], "sink");
    if (audio && !gst_pad_is_linked(sink) && gst_pad_link(pad, sink) == GST_PAD_LINK_OK) {
        device->linked_ = true;
    }
    gst_object_unref(sink);
}

void Device::OnNoMorePads(GstElement* /*decoder*/, gpointer self) {
    auto* device = static_cast<Device*>(self);
    if (!device->linked_) {
        device->Post("no-audio");
    }
}

bool Device::Build(const std::string& uri, double gain) {
    const char* factories[] = {"uridecodebin", "audioconvert", "audioresample", "capsfilter",
                               "volume"};
    for (std::size_t i = 0; i < std::size(elements_); ++i) {
        elements_[i] = gst_element_factory_make(factories[i], nullptr);
        if (elements_[i] == nullptr) {
            return false;
        }
    }
    GstCaps* audio = gst_caps_from_string("audio/x-raw");
    GstCaps* mix = gst_caps_from_string(kMixCaps);
    g_object_set(elements_[0], "uri", uri.c_str(), "caps", audio, nullptr);
    g_object_set(elements_[3], "caps", mix, nullptr);
    gst_caps_unref(audio);
    gst_caps_unref(mix);
    // Set once for the whole file: a gain that changed while it plays would be heard as a jump.
    g_object_set(elements_[4], "volume", gain, nullptr);
    AddHeld(output_.Pipeline(), elements_, std::size(elements_));
    out_ = gst_element_get_static_pad(elements_[4], "src");
    gst_object_unref(out_);  // the element holds it
    if (!gst_element_link_many(elements_[1], elements_[2], elements_[3], elements_[4], nullptr)) {
        return false;
    }
    g_signal_connect(elements_[0], "pad-added", G_CALLBACK(&Device::OnPadAdded), this);
    g_signal_connect(elements_[0], "no-more-pads", G_CALLBACK(&Device::OnNoMorePads), this);
    g_signal_connect(elements_[0], "deep-element-added", G_CALLBACK(&Decoder::OnElementAdded),
                     nullptr);
    Hold();
    gst_pad_add_probe(out_, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &Device::OnSourceEvent, this,
                      nullptr);
    StartAll(elements_, std::size(elements_));
    return true;
}

void Device::Hold() {
    prerolled_ = false;
    if (holdProbe_ == 0 && out_ != nullptr) {
        holdProbe_ = gst_pad_add_probe(
            out_,
            static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER |
                                         GST_PAD_PROBE_TYPE_BUFFER_LIST),
            &Device::OnHeld, this, nullptr);
    }
}

void Device::Seek(gint64 fromNs, gint64 stopNs) {
    prerolled_ = false;
    empty_ = false;
    needsSeek = false;
    heldNs = fromNs;
    gst_pad_send_event(
        out_, gst_event_new_seek(
                  1.0, GST_FORMAT_TIME,
                  static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                  GST_SEEK_TYPE_SET, fromNs, stopNs < 0 ? GST_SEEK_TYPE_NONE : GST_SEEK_TYPE_SET,
                  stopNs < 0 ? GST_CLOCK_TIME_NONE : stopNs));
}

bool Device::Attach(GstClockTime at) {
    letGo = false;
    auto strip = std::make_unique<Strip>(output_);
    const double level = static_cast<double>(std::max(left, right)) / 1000.0;
    float balance = 0.0F;
    if (std::max(left, right) > 0 && left != right) {
        balance = left < right ? 1.0F - static_cast<float>(left) / static_cast<float>(right)
                               : static_cast<float>(right) / static_cast<float>(left) - 1.0F;
    }
    if (!strip->Build(at, level, balance)) {
        return false;
    }
    joinedPad_ = gst_element_request_pad_simple(strip->concat, "sink_%u");
    if (joinedPad_ == nullptr || gst_pad_link(out_, joinedPad_) != GST_PAD_LINK_OK) {
        return false;
    }
    strip->Start();
    feeding_ = strip.get();
    strip_ = std::move(strip);
    startAt = at;
    startNs = heldNs;
    needsSeek = true;  // whatever it plays from now on has left the held sample behind
    if (holdProbe_ != 0) {
        gst_pad_remove_probe(out_, std::exchange(holdProbe_, 0));
    }
    return true;
}

bool Device::Follow(Device& leader) {
    Strip* strip = leader.strip_.get();
    if (strip == nullptr) {
        return false;
    }
    letGo = false;
    const std::lock_guard lock(strip->cueLock);
    if (strip->follower != nullptr) {
        return false;
    }
    joinedPad_ = gst_element_request_pad_simple(strip->concat, "sink_%u");
    if (joinedPad_ == nullptr || gst_pad_link(out_, joinedPad_) != GST_PAD_LINK_OK) {
        return false;
    }
    strip->follower = this;
    strip->followerPad = GST_PAD(gst_object_ref(joinedPad_));
    strip->followerOut = out_;
    following_ = &leader;
    feeding_ = strip;
    needsSeek = true;
    if (holdProbe_ != 0) {
        gst_pad_remove_probe(out_, std::exchange(holdProbe_, 0));
    }
    return true;
}

void Device::TakeOver(Device& leader) {
    {
        const std::lock_guard lock(leader.strip_->cueLock);
        Strip& strip = *leader.strip_;
        if (strip.followerPad != nullptr) {
            gst_object_unref(strip.followerPad);
        }
        strip.follower = nullptr;
        strip.followerPad = nullptr;
        strip.followerOut = nullptr;
    }
    strip_ = std::move(leader.strip_);
    following_ = nullptr;
    leader.Release(strip_.get());
    startNs = trimStartNs;
    left = leader.left;
    right = leader.right;
}

// Lets go of the strip this source feeds.
void Device::Release(Strip* strip) {
    feeding_ = nullptr;
    // Held before it is cut loose: a buffer pushed in between would find no peer and stop the
    // source with an error.
    Hold();
    if (joinedPad_ != nullptr) {
        gst_pad_unlink(out_, joinedPad_);
        // Unless the strip let go of it already, its file gone at a takeover.
        if (strip != nullptr && GST_OBJECT_PARENT(joinedPad_) == GST_OBJECT(strip->concat)) {
            gst_element_release_request_pad(strip->concat, joinedPad_);
        }
        gst_object_unref(std::exchange(joinedPad_, nullptr));
    }
    needsSeek = true;
}

void Device::Detach() {
    if (following_ != nullptr) {
        Strip* strip = following_->strip_.get();
        {
            const std::lock_guard lock(strip->cueLock);
            if (strip->follower == this) {
                gst_object_unref(strip->followerPad);
                strip->follower = nullptr;
                strip->followerPad = nullptr;
                strip->followerOut = nullptr;
            }
        }
        following_ = nullptr;
        Release(strip);
        return;
    }
    if (strip_ == nullptr) {
        return;
    }
    strip_->LeaveMixer();
    Device* follower = nullptr;
    {
        const std::lock_guard lock(strip_->cueLock);
        follower = strip_->follower;
    }
    if (follower != nullptr) {
        // Cut off mid-push, its source may report an error that is none of the file's.
        follower->letGo = true;
        follower->Detach();
    }
    Hold();
    // Stops the strip first: a source thread inside it leaves, and the concat's input goes.
    std::unique_ptr<Strip> strip = std::move(strip_);
    StopAll(strip->elements, std::size(strip->elements));
    Release(strip.get());
}

void Device::SetLevel(double level, GstClockTime at) {
    if (strip_ != nullptr) {
        strip_->SetLevel(level, at);
    }
}

void Device::SetEnvelope(GstClockTime at, GstClockTime length, bool rise) {
    if (strip_ != nullptr) {
        strip_->SetEnvelope(at, length, rise);
    }
}

void Device::ClearEnvelope(GstClockTime at) {
    if (strip_ != nullptr) {
        strip_->ClearEnvelope(at);
    }
}

void Device::SetBalance(float balance) {
    if (strip_ != nullptr && strip_->panorama != nullptr) {
        g_object_set(strip_->panorama, "panorama", balance, nullptr);
    }
}

bool Device::HasBalance() const {
    static const bool present = [] {
        GstElementFactory* factory = gst_element_factory_find("audiopanorama");
        if (factory != nullptr) {
            gst_object_unref(factory);
        }
        return factory != nullptr;
    }();
    return present;
}

GstClockTime Device::StripOffset() const {
    return strip_ != nullptr ? strip_->offset.load() : 0;
}

std::uint64_t Device::StripId() const {
    return strip_ != nullptr ? strip_->id : 0;
}

std::string Device::Progress() const {
    GstState state = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    if (elements_[0] != nullptr) {
        gst_element_get_state(elements_[0], &state, &pending, 0);
    }
    return std::string("decoder ") + gst_element_state_get_name(state) + ", pending " +
           gst_element_state_get_name(pending) +
           (linked_ ? ", audio stream linked" : ", no audio stream yet");
}

gint64 Device::QueryDuration() const {
    gint64 value = -1;
    if (out_ == nullptr || !gst_pad_query_duration(out_, GST_FORMAT_TIME, &value)) {
        return -1;
    }
    return value;
}

bool Device::Owns(GstObject* object) const {
    return OwnsAny(object, elements_, std::size(elements_)) ||
           (strip_ != nullptr && OwnsAny(object, strip_->elements, std::size(strip_->elements)));
}

}  // namespace Platform::Mci
