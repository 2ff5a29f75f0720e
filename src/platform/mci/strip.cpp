#include "platform/mci/strip.h"

#include <gst/controller/gstdirectcontrolbinding.h>
#include <gst/controller/gstinterpolationcontrolsource.h>
#include <sys/stat.h>

#include <cmath>
#include <iterator>
#include <utility>

#include "platform/mci/device.h"
#include "platform/mci/elements.h"
#include "platform/mci/output.h"

namespace Platform::Mci {

namespace {

// Past level points kept for a strip; older ones are dropped as new ones come.
constexpr GstClockTime kLevelHistory = GST_SECOND;

std::atomic<std::uint64_t> nextStripId{1};

// Every point of `curve` from `from` on, and those older than `before`, gone.
void Prune(GstControlSource* curve, GstClockTime from, GstClockTime before = 0) {
    auto* points = GST_TIMED_VALUE_CONTROL_SOURCE(curve);
    GList* all = gst_timed_value_control_source_get_all(points);
    for (GList* item = all; item != nullptr; item = item->next) {
        const GstClockTime when = static_cast<GstTimedValue*>(item->data)->timestamp;
        if (when >= from || when < before) {
            gst_timed_value_control_source_unset(points, when);
        }
    }
    g_list_free(all);
}

GstControlSource* Bind(GstElement* element, double initial) {
    GstControlSource* curve = gst_interpolation_control_source_new();
    g_object_set(curve, "mode", GST_INTERPOLATION_MODE_LINEAR, nullptr);
    gst_object_add_control_binding(GST_OBJECT(element), gst_direct_control_binding_new_absolute(
                                                            GST_OBJECT(element), "volume", curve));
    gst_object_unref(curve);  // the binding holds it
    if (initial >= 0) {
        gst_timed_value_control_source_set(GST_TIMED_VALUE_CONTROL_SOURCE(curve), 0, initial);
    }
    return curve;
}

}  // namespace

Strip::Strip(Output& output) : output_(output), id_(nextStripId++) {}

Strip::~Strip() {
    LeaveMixer();
    RemoveAll(output_.Pipeline(), elements_);
}

bool Strip::Build(GstClockTime at, double level, float balance, bool live) {
    live_ = live;
    const char* factories[kSlots] = {"concat", "identity", "audiobuffersplit",
                                     "volume", "volume",   "audiopanorama"};
    for (std::size_t i = 0; i < kSlots; ++i) {
        elements_[i] = gst_element_factory_make(factories[i], nullptr);
        if (elements_[i] == nullptr && i != kPanorama) {
            Discard(elements_);
            return false;
        }
    }
    g_object_set(elements_[kTimeline], "single-segment", TRUE, nullptr);
    g_object_set(elements_[kCut], "output-buffer-duration", static_cast<gint>(kMixBuffer.count()),
                 1000, nullptr);
    if (elements_[kPanorama] != nullptr) {
        g_object_set(elements_[kPanorama], "method", 1 /* simple */, "panorama", balance, nullptr);
    }
    AddHeld(output_.Pipeline(), elements_);
    gst_element_link_many(elements_[kConcat], elements_[kTimeline], elements_[kCut],
                          elements_[kLevel], elements_[kEnvelope], elements_[kPanorama], nullptr);
    GstPad* joined = gst_element_get_static_pad(elements_[kTimeline], "src");
    gst_pad_add_probe(joined,
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      &Strip::OnJoined, this, nullptr);
    gst_object_unref(joined);

    // The level follows a curve in the strip's running time, so a change lands at the mix time
    // it was meant for, however far ahead of the mix the data is.
    curve_ = Bind(elements_[kLevel], level);

    offset_ = at;
    GstElement* last =
        elements_[kPanorama] != nullptr ? elements_[kPanorama] : elements_[kEnvelope];
    out_ = gst_element_get_static_pad(last, "src");
    gst_object_unref(out_);  // the element holds it
    gst_pad_set_offset(out_, static_cast<gint64>(at));
    gst_pad_add_probe(out_,
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      &Strip::OnMixed, this, nullptr);
    mixerPad_ = output_.RequestInput();
    return mixerPad_ != nullptr && gst_pad_link(out_, mixerPad_) == GST_PAD_LINK_OK;
}

void Strip::Start() {
    StartAll(elements_);
}

void Strip::Stop() {
    StopAll(elements_);
}

void Strip::LeaveMixer() {
    if (mixerPad_ == nullptr) {
        return;
    }
    gst_pad_add_probe(
        out_, GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM,
        [](GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_DROP; }, nullptr, nullptr);
    gst_pad_unlink(out_, mixerPad_);
    output_.ReleaseInput(std::exchange(mixerPad_, nullptr));
}

// One strip plays without a break: a new file's first buffer is no new start for the cut into
// the mix's buffers nor for the mixer, whose alignment then places its samples right after the
// last ones, however the files' own lengths round their timestamps. Where a file takes over is
// counted in samples, for the same reason.
GstPadProbeReturn Strip::OnJoined(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer self) {
    auto* strip = static_cast<Strip*>(self);
    if ((GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        if (!GST_CLOCK_TIME_IS_VALID(strip->joinedFrom_)) {
            strip->joinedFrom_ = GST_BUFFER_PTS_IS_VALID(buffer) ? GST_BUFFER_PTS(buffer) : 0;
        } else if (GST_BUFFER_IS_DISCONT(buffer)) {
            buffer = gst_buffer_make_writable(buffer);
            GST_BUFFER_FLAG_UNSET(buffer, GST_BUFFER_FLAG_DISCONT);
            GST_PAD_PROBE_INFO_DATA(info) = buffer;
        }
        strip->joinedFrames_ += gst_buffer_get_size(buffer) / kMixBytesPerFrame;
    } else if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_STREAM_START &&
               strip->joinedFrames_ > 0) {
        const GstClockTime joined =
            gst_util_uint64_scale(strip->joinedFrames_, GST_SECOND, kMixRate);
        PostEvent(strip->elements_[kLevel], "switched", "strip", strip->id_,
                  strip->joinedFrom_ + joined + strip->offset_);
    }
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn Strip::OnMixed(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer self) {
    auto* strip = static_cast<Strip*>(self);
    if ((GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        const GstClockTime pts = GST_BUFFER_PTS(buffer);
        // A stream that caught up after a stall plays on from where the mix is, with some room
        // for the network's next delay, rather than have everything it sends dropped as late.
        constexpr GstClockTime kFirst = 10 * GST_MSECOND;
        constexpr GstClockTime kAfterStall = 500 * GST_MSECOND;
        if (!std::exchange(strip->seenMixed_, true)) {
            strip->StartNotBeforeMixed(pts, kFirst);
        } else if (strip->live_) {
            strip->StartNotBeforeMixed(pts, kAfterStall);
        }
        if (strip->shift_ != 0 && GST_CLOCK_TIME_IS_VALID(pts)) {
            buffer = gst_buffer_make_writable(buffer);
            GST_BUFFER_PTS(buffer) = pts + strip->shift_;
            GST_PAD_PROBE_INFO_DATA(info) = buffer;
        }
        if (GST_CLOCK_TIME_IS_VALID(pts) && GST_BUFFER_DURATION_IS_VALID(buffer)) {
            strip->lastEnd_ = pts + GST_BUFFER_DURATION(buffer);
        }
    } else if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) {
        PostEvent(strip->elements_[kLevel], "ended", "strip", strip->id_,
                  strip->lastEnd_.load() + strip->offset_);
    }
    return GST_PAD_PROBE_OK;
}

// A first buffer that comes after the mix has passed its time (a slow decoder, a busy machine)
// would have its start cut off by the mixer: the whole strip plays later instead, its data
// shifted, and its owner is told.
void Strip::StartNotBeforeMixed(GstClockTime pts, GstClockTime margin) {
    const GstClockTime mixed = output_.Mixed();
    if (!GST_CLOCK_TIME_IS_VALID(pts) || pts + offset_ >= mixed) {
        return;
    }
    const GstClockTime later = mixed + margin - (pts + offset_);
    shift_ += later;
    offset_ += later;
    PostEvent(elements_[kLevel], "moved", "strip", id_, offset_);
}

GstPad* Strip::Join(GstPad* source) {
    GstPad* joined = gst_element_request_pad_simple(elements_[kConcat], "sink_%u");
    if (joined != nullptr && gst_pad_link(source, joined) != GST_PAD_LINK_OK) {
        gst_element_release_request_pad(elements_[kConcat], joined);
        gst_object_unref(std::exchange(joined, nullptr));
    }
    return joined;
}

void Strip::Leave(GstPad* source, GstPad* joined) {
    gst_pad_unlink(source, joined);
    if (GST_OBJECT_PARENT(joined) == GST_OBJECT(elements_[kConcat])) {
        gst_element_release_request_pad(elements_[kConcat], joined);
    }
}

bool Strip::SetFollower(Device& device, GstPad* source, GstPad* joined) {
    const std::lock_guard lock(cueLock_);
    if (follower_ != nullptr) {
        return false;
    }
    follower_ = &device;
    followerPad_ = GST_PAD(gst_object_ref(joined));
    followerOut_ = source;
    return true;
}

Device* Strip::Follower() {
    const std::lock_guard lock(cueLock_);
    return follower_;
}

void Strip::ForgetFollower(const Device* device) {
    const std::lock_guard lock(cueLock_);
    if (follower_ == nullptr || (device != nullptr && follower_ != device)) {
        return;
    }
    if (followerPad_ != nullptr) {
        gst_object_unref(followerPad_);
    }
    follower_ = nullptr;
    followerPad_ = nullptr;
    followerOut_ = nullptr;
}

void Strip::CheckFollower(const Device* ending) {
    const std::lock_guard lock(cueLock_);
    struct stat info {};
    if (follower_ == nullptr || follower_ == ending ||
        ::stat(follower_->File().c_str(), &info) == 0) {
        return;
    }
    follower_->LetGo();
    gst_pad_unlink(followerOut_, followerPad_);
    gst_element_release_request_pad(elements_[kConcat], followerPad_);
    gst_object_unref(followerPad_);
    followerPad_ = nullptr;
    PostEvent(elements_[kLevel], "dropped", "device", follower_->Id());
    follower_ = nullptr;
}

void Strip::SetLevel(double level, GstClockTime at) {
    const GstClockTime t = at > offset_ ? at - offset_ : 0;
    gdouble now = level;
    gst_control_source_get_value(curve_, t, &now);
    Prune(curve_, t, t > kLevelHistory ? t - kLevelHistory : 0);
    auto* points = GST_TIMED_VALUE_CONTROL_SOURCE(curve_);
    gst_timed_value_control_source_set(points, t, now);
    gst_timed_value_control_source_set(points, t + kLevelRamp, level);
}

void Strip::SetBalance(float balance) {
    if (elements_[kPanorama] != nullptr) {
        g_object_set(elements_[kPanorama], "panorama", balance, nullptr);
    }
}

// What the envelope did before `at` (the rise of the crossfade this file came in by) stays. Until
// its first point the envelope's element passes the data untouched.
void Strip::SetEnvelope(GstClockTime at, GstClockTime length, bool rise) {
    if (envelopeCurve_ == nullptr) {
        envelopeCurve_ = Bind(elements_[kEnvelope], -1);
    }
    const GstClockTime start = EnvelopeFrom(at);
    auto* points = GST_TIMED_VALUE_CONTROL_SOURCE(envelopeCurve_);
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

void Strip::ClearEnvelope(GstClockTime at) {
    if (envelopeCurve_ != nullptr) {
        gst_timed_value_control_source_set(GST_TIMED_VALUE_CONTROL_SOURCE(envelopeCurve_),
                                           EnvelopeFrom(at), 1.0);
    }
}

// The strip's time for mix time `at`, with the envelope's points from there on gone.
GstClockTime Strip::EnvelopeFrom(GstClockTime at) {
    const GstClockTime start = at > offset_ ? at - offset_ : 0;
    Prune(envelopeCurve_, start);
    return start;
}

bool Strip::Owns(GstObject* object) const {
    return OwnsAny(object, elements_);
}

}  // namespace Platform::Mci
