#include "platform/mci/device.h"

#include <algorithm>
#include <utility>

#include "platform/mci/decoder.h"
#include "platform/mci/elements.h"
#include "platform/mci/output.h"
#include "platform/mci/strip.h"

namespace Platform::Mci {

namespace {

constexpr std::int64_t kFullVolume = 1000;

}  // namespace

Device::Device(Output& output, std::uint64_t id, std::string alias, std::string file)
    : output_(output), id_(id), alias_(std::move(alias)), file_(std::move(file)) {}

Device::~Device() {
    Abandon();
}

void Device::Abandon() {
    Detach();
    if (out_ != nullptr) {
        RemoveAll(output_.Pipeline(), elements_);
    } else {
        Discard(elements_);
    }
    elements_.fill(nullptr);
    out_ = nullptr;
    holdProbe_ = 0;
}

void Device::Post(const char* event) const {
    PostEvent(elements_[kGain], event, "device", id_);
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
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_TAG && device->live_) {
        device->NoteTags(event);
    }
    if (GST_EVENT_TYPE(event) != GST_EVENT_EOS) {
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
    GstPad* sink = gst_element_get_static_pad(device->elements_[kConvert], "sink");
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
    const char* factories[kSlots] = {"uridecodebin", "audioconvert", "audioresample", "capsfilter",
                                     "volume"};
    for (std::size_t i = 0; i < kSlots; ++i) {
        elements_[i] = gst_element_factory_make(factories[i], nullptr);
        if (elements_[i] == nullptr) {
            return false;
        }
    }
    GstCaps* audio = gst_caps_from_string("audio/x-raw");
    GstCaps* mix = gst_caps_from_string(kMixCaps);
    g_object_set(elements_[kDecoder], "uri", uri.c_str(), "caps", audio, nullptr);
    g_object_set(elements_[kFormat], "caps", mix, nullptr);
    gst_caps_unref(audio);
    gst_caps_unref(mix);
    // Set once for the whole file: a gain that changed while it plays would be heard as a jump.
    g_object_set(elements_[kGain], "volume", gain, nullptr);
    AddHeld(output_.Pipeline(), elements_);
    out_ = gst_element_get_static_pad(elements_[kGain], "src");
    gst_object_unref(out_);  // the element holds it
    if (!gst_element_link_many(elements_[kConvert], elements_[kResample], elements_[kFormat],
                               elements_[kGain], nullptr)) {
        return false;
    }
    GstElement* decoder = elements_[kDecoder];
    g_signal_connect(decoder, "pad-added", G_CALLBACK(&Device::OnPadAdded), this);
    g_signal_connect(decoder, "no-more-pads", G_CALLBACK(&Device::OnNoMorePads), this);
    g_signal_connect(decoder, "deep-element-added", G_CALLBACK(&Decoder::OnElementAdded), nullptr);
    if (live_) {
        WatchStream();
    }
    Hold();
    gst_pad_add_probe(out_, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &Device::OnSourceEvent, this,
                      nullptr);
    StartAll(elements_);
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
    needsSeek_ = false;
    heldNs_ = fromNs;
    gst_pad_send_event(
        out_, gst_event_new_seek(
                  1.0, GST_FORMAT_TIME,
                  static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                  GST_SEEK_TYPE_SET, fromNs, stopNs < 0 ? GST_SEEK_TYPE_NONE : GST_SEEK_TYPE_SET,
                  stopNs < 0 ? GST_CLOCK_TIME_NONE : stopNs));
}

bool Device::Attach(GstClockTime at) {
    letGo_ = false;
    auto strip = std::make_unique<Strip>(output_);
    if (!strip->Build(at, Level(), Balance(), live_)) {
        return false;
    }
    joinedPad_ = strip->Join(out_);
    if (joinedPad_ == nullptr) {
        return false;
    }
    strip->Start();
    attachedAt_ = g_get_monotonic_time();
    feeding_ = strip.get();
    strip_ = std::move(strip);
    startAt_ = at;
    startNs_ = heldNs_;
    endAt_ = GST_CLOCK_TIME_NONE;
    needsSeek_ = true;  // whatever it plays from now on has left the held sample behind
    if (holdProbe_ != 0) {
        gst_pad_remove_probe(out_, std::exchange(holdProbe_, 0));
    }
    return true;
}

bool Device::Follow(Device& leader) {
    Strip* strip = leader.strip_.get();
    if (strip == nullptr || strip->Follower() != nullptr) {
        return false;
    }
    letGo_ = false;
    joinedPad_ = strip->Join(out_);
    if (joinedPad_ == nullptr) {
        return false;
    }
    if (!strip->SetFollower(*this, out_, joinedPad_)) {
        Release(strip);
        return false;
    }
    following_ = &leader;
    feeding_ = strip;
    needsSeek_ = true;
    if (holdProbe_ != 0) {
        gst_pad_remove_probe(out_, std::exchange(holdProbe_, 0));
    }
    return true;
}

void Device::TakeOver(Device& leader, GstClockTime at) {
    leader.strip_->ForgetFollower();
    strip_ = std::move(leader.strip_);
    following_ = nullptr;
    leader.Release(strip_.get());
    startNs_ = trimStartNs_;
    startAt_ = at;
    endAt_ = GST_CLOCK_TIME_NONE;
    TakeAliasOf(leader);
}

void Device::TakeAliasOf(const Device& other) {
    alias_ = other.alias_;
    format_ = other.format_;
    CopyVolume(other);
    mode_ = Mode::Playing;
}

void Device::Release(Strip* strip) {
    feeding_ = nullptr;
    // Held before it is cut loose: a buffer pushed in between would find no peer and stop the
    // source with an error.
    Hold();
    if (joinedPad_ != nullptr) {
        if (strip != nullptr) {
            strip->Leave(out_, joinedPad_);
        } else {
            gst_pad_unlink(out_, joinedPad_);
        }
        gst_object_unref(std::exchange(joinedPad_, nullptr));
    }
    needsSeek_ = true;
}

void Device::Detach() {
    if (following_ != nullptr) {
        Strip* strip = following_->strip_.get();
        strip->ForgetFollower(this);
        following_ = nullptr;
        Release(strip);
        return;
    }
    if (strip_ == nullptr) {
        return;
    }
    strip_->LeaveMixer();
    if (Device* follower = strip_->Follower()) {
        // Cut off mid-push, its source may report an error that is none of the file's.
        follower->LetGo();
        follower->Detach();
    }
    Hold();
    // Stops the strip first: a source thread inside it leaves, and the concat's input goes.
    std::unique_ptr<Strip> strip = std::move(strip_);
    strip->Stop();
    Release(strip.get());
}

void Device::DetachAt(GstClockTime heard) {
    heldNs_ = Position(heard);
    Detach();
}

gint64 Device::Position(GstClockTime heard) const {
    if (mode_ != Mode::Playing || strip_ == nullptr) {
        return heldNs_;
    }
    GstClockTime played = heard > startAt_ ? heard - startAt_ : 0;
    if (GST_CLOCK_TIME_IS_VALID(endAt_)) {
        played = std::min(played, endAt_ - std::min(endAt_, startAt_));
    }
    return startNs_ + static_cast<gint64>(played);
}

GstClockTime Device::MixTimeOf(gint64 positionNs) const {
    return positionNs < startNs_ ? GST_CLOCK_TIME_NONE
                                 : startAt_ + static_cast<GstClockTime>(positionNs - startNs_);
}

void Device::Trim(gint64 startNs, gint64 endNs) {
    trimStartNs_ = startNs;
    trimEndNs_ = endNs;
    const gint64 full = QueryDuration();
    durationNs_ = full < 0 ? endNs : std::min(full, endNs);
}

gint64 Device::Duration() {
    if (durationNs_ < 0) {
        durationNs_ = QueryDuration();
    }
    return durationNs_;
}

std::int64_t Device::Volume(Side side) const {
    switch (side) {
        case Side::Left:
            return left_;
        case Side::Right:
            return right_;
        case Side::Both:
            break;
    }
    return (left_ + right_ + 1) / 2;
}

void Device::SetVolume(Side side, std::int64_t volume) {
    if (side != Side::Right) {
        left_ = volume;
    }
    if (side != Side::Left) {
        right_ = volume;
    }
}

void Device::CopyVolume(const Device& other) {
    left_ = other.left_;
    right_ = other.right_;
}

double Device::Level() const {
    return static_cast<double>(std::max(left_, right_)) / kFullVolume;
}

float Device::Balance() const {
    const std::int64_t loudest = std::max(left_, right_);
    if (loudest == 0 || left_ == right_) {
        return 0.0F;
    }
    // The louder side plays at the device volume; the other is attenuated by the balance.
    return left_ < right_ ? 1.0F - static_cast<float>(left_) / static_cast<float>(right_)
                          : static_cast<float>(right_) / static_cast<float>(left_) - 1.0F;
}

void Device::ApplyVolume(GstClockTime at) {
    if (strip_ != nullptr) {
        strip_->SetLevel(Level(), at);
        strip_->SetBalance(Balance());
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

bool Device::HasBalance() {
    static const bool present = [] {
        GstElementFactory* factory = gst_element_factory_find("audiopanorama");
        if (factory != nullptr) {
            gst_object_unref(factory);
        }
        return factory != nullptr;
    }();
    return present;
}

std::uint64_t Device::StripId() const {
    return strip_ != nullptr ? strip_->Id() : 0;
}

std::string Device::Progress() const {
    GstState state = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    if (elements_[kDecoder] != nullptr) {
        gst_element_get_state(elements_[kDecoder], &state, &pending, 0);
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
    return OwnsAny(object, elements_) || (strip_ != nullptr && strip_->Owns(object));
}

}  // namespace Platform::Mci
