#pragma once

#include <gst/gst.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/mci/commandline.h"

namespace Platform::Mci {

class Output;
class Strip;

// One open file: its source (the decoder, converted to the mix's format, then the file's own
// gain) and, while it plays, the strip that takes it into the mixer with the device's level and
// balance. A source that does not play is held at the sample it will start from.
//
// Everything here is called on the thread that sends the commands. The pad probes run on
// GStreamer's threads: they only note what passes and post it on the output's bus as a "corvane"
// message, which that thread reads.
class Device {
public:
    enum class Mode { Stopped, Playing, Paused };

    Device(Output& output, std::uint64_t id, std::string alias, std::string file);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    std::uint64_t Id() const { return id_; }
    const std::string& Alias() const { return alias_; }
    const std::string& File() const { return file_; }

    // Building and holding the source.
    // Builds the source into the output's pipeline and starts it decoding; false when an element
    // is missing. It is prerolled once its first sample is held, or once it has ended.
    bool Build(const std::string& uri, double gain);
    // Decodes again from `fromNs`, to `stopNs` (-1: the end); prerolled again afterwards.
    void Seek(gint64 fromNs, gint64 stopNs);
    bool Prerolled() const { return prerolled_.load(); }
    // The source ended without a sample to play (a seek to its very end, a file of no samples).
    bool Empty() const { return empty_.load(); }
    // Whether a play must seek first: the held sample is not where it would start.
    bool NeedsSeekTo(gint64 positionNs) const { return needsSeek_ || positionNs != heldNs_; }
    // How far a source that is not prerolled got, for the log.
    std::string Progress() const;
    // Lets go of every element, for an output that is gone; the device plays no more.
    void Abandon();

    // Playing on a strip.
    // Starts a strip of its own: the held sample is mixed at running time `at`.
    bool Attach(GstClockTime at);
    // Joins the leader's strip: this source plays from the sample where the leader's ends. The
    // takeover is reported as a "switched" event; the file is checked for at that moment, and a
    // file gone by then is let go ("dropped") rather than played from its open handle.
    bool Follow(Device& leader);
    // After "switched" at mix time `at`: the leader's strip is this device's, and its alias.
    void TakeOver(Device& leader, GstClockTime at);
    // Plays on under the other's alias, with its time format and volume.
    void TakeAliasOf(const Device& other);
    // Leaves the strip (the leader's strip goes with it); the source is held again and must be
    // sought before it plays.
    void Detach();
    // The same, held where it was heard last, the mix heard being at `heard`.
    void DetachAt(GstClockTime heard);
    bool Attached() const { return strip_ != nullptr || following_ != nullptr; }
    bool Leads() const { return strip_ != nullptr; }
    bool Follows(const Device& leader) const { return following_ == &leader; }
    std::uint64_t StripId() const;
    // Cut off from its strip (its file gone at a takeover, or its leader closed): what its source
    // says as it is cut off means nothing, until it plays again. Any thread.
    void LetGo() { letGo_ = true; }
    bool LetGoOf() const { return letGo_.load(); }

    // Where it is. Mix times are the output's running time; positions the file's own, in ns.
    // Its strip's start was moved to mix time `at` (a late first buffer).
    void Moved(GstClockTime at) { startAt_ = at; }
    // Its end is mixed at `at`: heard Latency() later.
    void EndsAt(GstClockTime at) { endAt_ = at; }
    GstClockTime EndAt() const { return endAt_; }
    // The position heard when the mix heard is at `heard`.
    gint64 Position(GstClockTime heard) const;
    gint64 HeldAt() const { return heldNs_; }
    // The mix time its file's `positionNs` plays at, while it plays; none for one before where
    // it started (or unknown, -1).
    GstClockTime MixTimeOf(gint64 positionNs) const;
    // Where its sound starts and ends, for a file trimmed of its silent ends; its length then.
    void Trim(gint64 startNs, gint64 endNs);
    gint64 TrimStart() const { return trimStartNs_; }
    gint64 TrimEnd() const { return trimEndNs_; }
    // Where it stops: its end, or where its sound ends; -1 while unknown.
    gint64 Duration();
    // The mix time the crossfade it came in by has risen at; 0 without one.
    GstClockTime RisenAt() const { return risenAt_; }
    void RisesUntil(GstClockTime at) { risenAt_ = at; }

    // What it does.
    Mode GetMode() const { return mode_; }
    bool Playing() const { return mode_ == Mode::Playing; }
    void SetMode(Mode mode) { mode_ = mode; }
    bool Failed() const { return failed_; }
    void MarkFailed() {
        failed_ = true;
        mode_ = Mode::Stopped;
    }
    TimeFormat Format() const { return format_; }
    void SetFormat(TimeFormat format) { format_ = format; }

    // Its volume, 0..1000 each side: the louder side sets the level, the other is lowered by the
    // balance.
    std::int64_t Volume(Side side) const;
    void SetVolume(Side side, std::int64_t volume);
    void CopyVolume(const Device& other);
    // The volume heard from mix time `at` on, reached by a short ramp.
    void ApplyVolume(GstClockTime at);
    float Balance() const;
    static bool HasBalance();
    // A crossfade's half over [at, at + length) in mix time, on top of the level: a rise from
    // silence or a fall to it, on equal-power curves; and full again from `at` on.
    void SetEnvelope(GstClockTime at, GstClockTime length, bool rise);
    void ClearEnvelope(GstClockTime at);

    // A live stream from the network rather than a file: it has no end of its own, its level is
    // not measured, and no sample for a while means it has stopped. Before Build.
    void MakeLive() { live_ = true; }
    bool Live() const { return live_; }
    // The monotonic time (microseconds) its last sample passed.
    gint64 LastSampleAt() const { return lastSample_.load(); }
    // The monotonic time (microseconds) it last began to play.
    gint64 AttachedAt() const { return attachedAt_; }
    // What the stream says it plays now; empty until it says.
    std::string Title() const;

    // Whether `object` is one of this device's elements or inside one.
    bool Owns(GstObject* object) const;
    gint64 QueryDuration() const;

private:
    static GstPadProbeReturn OnHeld(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    static GstPadProbeReturn OnSourceEvent(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    static void OnPadAdded(GstElement* decoder, GstPad* pad, gpointer self);
    static void OnNoMorePads(GstElement* decoder, gpointer self);
    // The stream's (devicestream.cpp).
    static void OnSourceSetup(GstElement* decoder, GstElement* source, gpointer self);
    static GstPadProbeReturn OnSample(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    void WatchStream();
    void NoteTags(GstEvent* event);
    void Hold();
    // Lets go of the strip it feeds, held again.
    void Release(Strip* strip);
    void Post(const char* event) const;
    double Level() const;

    Output& output_;
    const std::uint64_t id_;
    std::string alias_;  // as opened, or as taken over
    const std::string file_;
    Mode mode_ = Mode::Stopped;
    bool failed_ = false;
    TimeFormat format_ = TimeFormat::Milliseconds;
    std::int64_t left_ = 1000;
    std::int64_t right_ = 1000;

    bool needsSeek_ = false;                    // the held sample is not where a play would start
    gint64 heldNs_ = 0;                         // the position it is held at, when not playing
    gint64 startNs_ = 0;                        // the position its strip started from
    GstClockTime startAt_ = 0;                  // the mix time that position played at
    GstClockTime endAt_ = GST_CLOCK_TIME_NONE;  // the mix time its end is mixed at
    GstClockTime risenAt_ = 0;
    gint64 durationNs_ = -1;
    gint64 trimStartNs_ = 0;  // position 0 when trimmed
    gint64 trimEndNs_ = -1;

    enum Slot { kDecoder, kConvert, kResample, kFormat, kGain, kSlots };
    std::array<GstElement*, kSlots> elements_{};
    GstPad* out_ = nullptr;  // the gain's source pad
    gulong holdProbe_ = 0;
    GstPad* joinedPad_ = nullptr;           // the strip's input this source feeds
    std::unique_ptr<Strip> strip_;          // when it leads one
    Device* following_ = nullptr;           // the leader whose strip it joined, until it takes over
    std::atomic<Strip*> feeding_{nullptr};  // the strip it feeds, for its probes
    std::atomic<bool> prerolled_{false};
    std::atomic<bool> empty_{false};
    std::atomic<bool> linked_{false};  // an audio stream reached the converter
    std::atomic<bool> letGo_{false};

    bool live_ = false;
    std::atomic<gint64> lastSample_{0};
    gint64 attachedAt_ = 0;
    mutable std::mutex titleLock_;  // the title, set by the stream's thread
    std::string title_;
};

}  // namespace Platform::Mci
