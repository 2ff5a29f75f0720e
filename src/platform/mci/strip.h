#pragma once

#include <gst/gst.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace Platform::Mci {

class Device;
class Output;

// A strip: the sources that play one after another on a device (concat), made one timeline
// (identity single-segment), cut into the mix's buffers so that its data never runs far ahead of
// the mix, then the level, the crossfade's envelope and the balance, into one input of the mixer
// at a running-time offset.
//
// Built and driven from the thread that sends the commands; its probes run on the streaming
// thread of the source that feeds it, and only note what passes and post it on the output's bus.
class Strip {
public:
    explicit Strip(Output& output);
    ~Strip();
    Strip(const Strip&) = delete;
    Strip& operator=(const Strip&) = delete;

    // Makes its elements, the held sample to be mixed at running time `at`; false when an element
    // is missing or the mixer refuses it. `live`: it plays a stream, whose data may come late at
    // any time, not only at its start.
    bool Build(GstClockTime at, double level, float balance, bool live = false);
    void Start();
    // Leaves the mixer at once: what is still queued for it is dropped, and nothing that comes
    // after is pushed into a pad that is gone.
    void LeaveMixer();
    // Stops its elements: a source thread inside it leaves.
    void Stop();

    // A new input of the strip, linked from `source`; null when that fails, leaving nothing.
    GstPad* Join(GstPad* source);
    // Lets go of an input, unless the strip did already (its file gone at a takeover).
    void Leave(GstPad* source, GstPad* joined);

    // The device cued to play next on the strip, from its input `joined`: false when it has one.
    bool SetFollower(Device& device, GstPad* source, GstPad* joined);
    Device* Follower();
    // At the end of `ending`'s file, before the follower takes over: the follower's file must
    // still be there, or it is let go and the strip ends. Called on the ending source's thread.
    void CheckFollower(const Device* ending);
    // Forgets the follower (only `device`, when given): it goes another way.
    void ForgetFollower(const Device* device = nullptr);

    // The level (0..1) from mix time `at` on, reached by a short ramp, and the balance at once.
    void SetLevel(double level, GstClockTime at);
    void SetBalance(float balance);
    // An equal-power crossfade's half over [at, at + length) in mix time: a rise from silence
    // (sine) or a fall to it (cosine), so that the two halves' powers sum to one throughout.
    void SetEnvelope(GstClockTime at, GstClockTime length, bool rise);
    // Full from `at` on again, for a fall called off before it began.
    void ClearEnvelope(GstClockTime at);

    std::uint64_t Id() const { return id_; }
    bool Owns(GstObject* object) const;

private:
    static GstPadProbeReturn OnJoined(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    static GstPadProbeReturn OnMixed(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    void StartNotBeforeMixed(GstClockTime pts, GstClockTime margin);
    GstClockTime EnvelopeFrom(GstClockTime at);

    Output& output_;
    const std::uint64_t id_;
    // The elements in their order; the panorama may be missing.
    enum Slot { kConcat, kTimeline, kCut, kLevel, kEnvelope, kPanorama, kSlots };
    std::array<GstElement*, kSlots> elements_{};
    GstControlSource* curve_ = nullptr;          // held by the level's binding
    GstControlSource* envelopeCurve_ = nullptr;  // held by the envelope's binding, once made
    GstPad* out_ = nullptr;
    GstPad* mixerPad_ = nullptr;
    std::atomic<GstClockTime> offset_{0};  // the mix time the strip's time 0 plays at

    // The streaming thread's: where the strip's own timeline stands, counted in samples as they
    // join, so that a file's end is placed where its last sample is, however its timestamps round.
    GstClockTime shift_ = 0;  // added to the data's times after a late start
    GstClockTime joinedFrom_ = GST_CLOCK_TIME_NONE;
    guint64 joinedFrames_ = 0;
    bool switching_ = false;
    std::atomic<GstClockTime> lastEnd_{0};
    bool seenMixed_ = false;
    bool live_ = false;

    std::mutex cueLock_;  // the follower, touched by the ending source's thread
    Device* follower_ = nullptr;
    GstPad* followerPad_ = nullptr;  // its input of the concat, a reference of ours
    GstPad* followerOut_ = nullptr;
};

}  // namespace Platform::Mci
