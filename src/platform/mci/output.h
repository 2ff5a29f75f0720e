#pragma once

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "platform/mci/quiet.h"

namespace Platform::Mci {

// How long the mixer waits for an input's next buffer before it mixes without it: a busy
// machine's decoding thread has this long to catch up.
inline constexpr std::chrono::milliseconds kMixerSlack{10};

// The mix's pace: the mixer's buffers, and what every strip's data is cut into, so that no strip
// runs further ahead of the mix than a few of them, whatever its decoder's buffers (FLAC's are
// 93 ms). Larger buffers wake the threads less often but push every level change later: the
// lead below is three of them.
inline constexpr std::chrono::milliseconds kMixBuffer{20};

// How far past what the mixer has mixed a strip may have processed its data already: the
// mixer's slack and two queued buffers, and the one its thread is pushing. A level change or a
// device's start that far ahead is mixed exactly where it is meant to be.
inline constexpr std::chrono::milliseconds kLevelLead = kMixerSlack + 3 * kMixBuffer;

// A level command reaches its new level over this long, so that a step is a ramp and not a click.
inline constexpr GstClockTime kLevelRamp = 10 * GST_MSECOND;

// What every device is converted to before it is mixed, and what the output plays.
inline constexpr const char* kMixCaps =
    "audio/x-raw,format=F32LE,layout=interleaved,rate=44100,channels=2";
inline constexpr int kMixRate = 44'100;
inline constexpr std::size_t kMixBytesPerFrame = 2 * sizeof(float);

// The one output stream: a live mixer, paced by the clock, then the sound sink. The sound server
// sees one stream from the first open to the loss of the sound output; devices come and go as the
// mixer's inputs. Driven from the thread that sends the commands.
class Output {
public:
    // Makes the audio sink; null means the desktop's sound output.
    using SinkFactory = std::function<GstElement*()>;

    // Null when there is no sound output (no sound server, or it refuses us at once). Without a
    // sink factory, it plays to the sound server's `device`, or to the desktop's output when
    // empty. It connects and starts playing on a thread of its own, for a sound server may take
    // seconds to take a new stream: Started() once it plays, and a "corvane" event "output" on
    // the bus, with "playing" true or false, once that thread is done. The mix is measured into
    // `meter`, when given, while that is on.
    static std::unique_ptr<Output> Start(const SinkFactory& sinkFactory,
                                         const std::string& device = {},
                                         QuietMeter* meter = nullptr);
    ~Output();
    bool Started() const { return started_.load(); }
    // Stops it for good, at once also while it is still starting: a sound server that has not
    // answered yet is left to the starting thread.
    void Stop();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    GstElement* Pipeline() const { return pipeline_; }
    GstBus* Bus() const { return bus_; }

    // The running time on the clock. A sample mixed for running time t is heard when Now() is
    // t + Latency().
    GstClockTime Now() const;
    GstClockTime Latency() const { return latency_.load(); }
    // The running time the mixer has mixed up to: its inputs' data from there on is still to be
    // mixed. It moves in bursts, as the sound server asks for data, not with the clock.
    GstClockTime Mixed() const { return mixed_.load(); }
    // Now as mixed, smoothly: the furthest the mixer has lately been ahead of a steady clock,
    // carried on by that clock, so never behind Mixed(). Changes placed from it keep their
    // spacing in the mix, where the bursts would bunch them.
    GstClockTime MixNow() const;
    // The earliest mix time that a level change or a start made now lands at exactly.
    GstClockTime NextChange() const {
        return MixNow() + static_cast<GstClockTime>(std::chrono::nanoseconds(kLevelLead).count());
    }
    // Asks the pipeline again, as it asks when an element's latency changes; once started.
    void UpdateLatency();

    // An input of the mixer, and its release.
    GstPad* RequestInput();
    void ReleaseInput(GstPad* pad);

    // Whether `object` is one of the output's own elements, or inside one (the sink's children).
    bool Owns(GstObject* object) const;

private:
    Output() = default;

    // A silent live input that feeds the card while the output starts.
    struct Starter {
        GstElement* source = nullptr;
        GstElement* caps = nullptr;
        GstPad* input = nullptr;
    };
    // The mixer, in the mix's format, paced, into the sink; false when an element is missing.
    bool BuildMix();
    Starter AddStarter();
    void WatchMixed();
    void NoteMixed(GstClockTime end);
    void RemoveStarter(const Starter& starter);
    // Lets the starting thread go on alone while it still waits on the sound server: true if so.
    bool Abandon();
    struct Connection;
    // The starting thread: connects the sink, plays, and posts the "output" event.
    static void Starting(Output* self, std::shared_ptr<Connection> connection, GstElement* sink);
    // Plays on the system clock, then again on the card's once the sink offers it.
    bool PlayOnCardClock();
    void AskLatency();

    GstElement* pipeline_ = nullptr;
    GstElement* mixer_ = nullptr;
    GstElement* sink_ = nullptr;
    GstBus* bus_ = nullptr;
    GstClock* clock_ = nullptr;
    QuietMeter* meter_ = nullptr;
    std::atomic<GstClockTime> latency_{0};
    // Between the starting thread and Stop(): whether the sound server has answered, and whether
    // the output went before it did.
    struct Connection {
        std::promise<bool> answer;  // whether the sound server took the sink
        std::mutex lock;
        bool done = false;
        bool abandoned = false;
    };
    std::shared_ptr<Connection> connection_;
    Starter starter_;  // while the output starts
    std::thread starting_;
    std::atomic<bool> started_{false};
    std::atomic<bool> stopping_{false};
    // Written by the mixer's thread: where it has mixed to, and the mix's lead over the steady
    // clock that MixNow() carries on.
    std::atomic<GstClockTime> mixed_{0};
    std::atomic<gint64> mixAhead_{0};
    gint64 mixAheadAt_ = 0;
};

}  // namespace Platform::Mci
