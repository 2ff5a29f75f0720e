#pragma once

#include <gst/gst.h>

#include <chrono>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace Platform::Mci {

// How long the mixer waits for an input's next buffer before it mixes without it: a busy
// machine's decoding thread has this long to catch up. Every level change is heard this much
// later; dropouts measured with 10 ms and with 25 ms were alike, and came from the sound server's
// buffer instead.
inline constexpr std::chrono::milliseconds kMixerSlack{10};

// The mix's pace: the mixer's buffers, and what every device's data is cut into.
inline constexpr std::chrono::milliseconds kMixBuffer{10};

// What every device is converted to before it is mixed, and what the output plays.
inline constexpr const char* kMixCaps =
    "audio/x-raw,format=F32LE,layout=interleaved,rate=44100,channels=2";

// Drops elements made for a pipeline they never joined, leaving each null; a null one is skipped.
void Discard(std::span<GstElement*> elements);

// The one output stream: a live mixer, paced by the clock, then the sound sink. The sound server
// sees one stream from the first open to the loss of the sound output; devices come and go as the
// mixer's inputs. Driven from the thread that sends the commands.
class Output {
public:
    // Makes the audio sink; null means the desktop's sound output.
    using SinkFactory = std::function<GstElement*()>;

    // Null when there is no sound output (no sound server, or it refuses us). Without a sink
    // factory, it plays to the sound server's `device`, or to the desktop's output when empty.
    static std::unique_ptr<Output> Start(const SinkFactory& sinkFactory,
                                         const std::string& device = {});
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    GstElement* Pipeline() const { return pipeline_; }
    GstBus* Bus() const { return bus_; }

    // The running time the mixer is producing now. A sample mixed at running time t is heard
    // Latency() later.
    GstClockTime Now() const;
    GstClockTime Latency() const { return latency_; }
    // How far past Now() an input's data may already have passed its level: a level change, or a
    // device's start, at least that far ahead is mixed exactly when it is meant to be.
    GstClockTime LevelLead() const { return levelLead_; }
    // Asks the pipeline again, as it asks when an element's latency changes.
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
    Starter AddStarter();
    void RemoveStarter(const Starter& starter);
    // Plays on the system clock, then again on the card's once the sink offers it.
    bool PlayOnCardClock();

    GstElement* pipeline_ = nullptr;
    GstElement* mixer_ = nullptr;
    GstElement* sink_ = nullptr;
    GstClockTime levelLead_ = 0;
    GstBus* bus_ = nullptr;
    GstClock* clock_ = nullptr;
    GstClockTime latency_ = 0;
};

}  // namespace Platform::Mci
