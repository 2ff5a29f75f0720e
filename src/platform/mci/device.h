#pragma once

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/mci/commandline.h"

namespace Platform::Mci {

class Output;
struct Strip;

// One open file: its source (the decoder, converted to the mix's format, then the file's own
// gain) and, while it plays, the strip that takes it into the mixer with the device's level and
// balance. A source that does not play is held at the sample it will start from.
//
// Everything here is called on the thread that sends the commands. The pad probes run on
// GStreamer's threads: they only note what passes and post it on the output's bus as a "corvane"
// message, which that thread reads.
struct Device {
    enum class Mode { Stopped, Playing, Paused };

    Device(Output& output, std::uint64_t serial, std::string openedAs, std::string path);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Builds the source into the output's pipeline and starts it decoding; false when an element
    // is missing. It is prerolled once its first sample is held, or once it has ended.
    bool Build(const std::string& uri, double gain);
    // Decodes again from `fromNs`, to `stopNs` (-1: the end); prerolled again afterwards.
    void Seek(gint64 fromNs, gint64 stopNs);
    bool Prerolled() const { return prerolled_.load(); }
    // The source ended without a sample to play (a seek to its very end, a file of no samples).
    bool Empty() const { return empty_.load(); }
    // How far a source that is not prerolled got, for the log: the decoder's state and whether an
    // audio stream reached the converter.
    std::string Progress() const;

    // Starts a strip of its own: the held sample is mixed at running time `at`.
    bool Attach(GstClockTime at);
    // Joins the leader's strip: this source plays from the sample where the leader's ends. The
    // takeover is reported as a "switched" message; the file is checked for at that moment, and
    // a file gone by then is let go ("dropped") rather than played from its open handle.
    bool Follow(Device& leader);
    // After "switched": the leader's strip is this device's now, and its level with it.
    void TakeOver(Device& leader);
    // Leaves the strip (the leader's strip goes with it); the source is held again and must be
    // sought before it plays.
    void Detach();
    bool Attached() const { return strip_ != nullptr || following_ != nullptr; }
    bool Leads() const { return strip_ != nullptr; }
    bool Follows(const Device& leader) const { return following_ == &leader; }
    // Lets go of every element, for an output that is gone; the device plays no more.
    void Abandon();

    // The level (0..1) as heard from mix time `at` on, reached by a short ramp, and the balance
    // (-1 left .. +1 right) at once.
    void SetLevel(double level, GstClockTime at);
    void SetBalance(float balance);
    bool HasBalance() const;
    // A crossfade's half over [at, at + length) in mix time, on top of the level: a rise from
    // silence or a fall to it, on equal-power curves; and full again from `at` on.
    void SetEnvelope(GstClockTime at, GstClockTime length, bool rise);
    void ClearEnvelope(GstClockTime at);

    // The mix time the strip's first sample played at, and the device's running time then.
    GstClockTime StripOffset() const;
    std::uint64_t StripId() const;

    gint64 QueryDuration() const;
    // Whether `object` is one of this device's elements or inside one.
    bool Owns(GstObject* object) const;

    // Set by the interpreter.
    std::string alias;  // as opened, for notices
    std::string file;   // for the log and the check at a takeover
    const std::uint64_t id;
    Mode mode = Mode::Stopped;
    bool ended = false;  // played to its end or to its "to" position
    bool failed = false;
    bool needsSeek = false;    // the held sample is not where a play would start
    gint64 startNs = 0;        // the position its strip started from
    GstClockTime startAt = 0;  // the mix time that position played at
    gint64 heldNs = 0;         // the position it is held at, when not playing
    GstClockTime endHeardAt = GST_CLOCK_TIME_NONE;  // the mix time its end is heard at
    GstClockTime risenAt = 0;  // the mix time the crossfade it came in by has ended
    gint64 durationNs = -1;    // where it stops: its end, or where its sound ends
    gint64 trimStartNs = 0;    // where its sound starts, when trimmed; position 0 then
    gint64 trimEndNs = -1;     // where it ends, when trimmed
    TimeFormat timeFormat = TimeFormat::Milliseconds;
    std::int64_t left = 1000;
    std::int64_t right = 1000;
    // Cut off from its strip (its file gone at a takeover, or its leader closed): what its source
    // says as it is cut off means nothing, until it plays again.
    std::atomic<bool> letGo{false};

private:
    static GstPadProbeReturn OnHeld(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    static GstPadProbeReturn OnSourceEvent(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    static void OnPadAdded(GstElement* decoder, GstPad* pad, gpointer self);
    static void OnNoMorePads(GstElement* decoder, gpointer self);
    void Hold();
    void Release(Strip* strip);
    void Post(const char* event) const;

    Output& output_;
    GstElement* elements_[5] = {};  // decoder, convert, resample, caps, gain
    GstPad* out_ = nullptr;         // the gain's source pad
    gulong holdProbe_ = 0;
    GstPad* joinedPad_ = nullptr;           // the strip's input this source feeds
    std::unique_ptr<Strip> strip_;          // when it leads one
    Device* following_ = nullptr;           // the leader whose strip it joined, until it takes over
    std::atomic<Strip*> feeding_{nullptr};  // the strip it feeds, for its probes
    std::atomic<bool> prerolled_{false};
    std::atomic<bool> empty_{false};
    std::atomic<bool> linked_{false};  // an audio stream reached the converter
};

}  // namespace Platform::Mci
