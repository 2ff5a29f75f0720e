#pragma once

#include <gst/gst.h>

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/mci/commandline.h"
#include "platform/mci/device.h"
#include "platform/mci/mci.h"
#include "platform/mci/output.h"
#include "platform/mci/outputs.h"

class QSocketNotifier;

// The media control interface over GStreamer. The words it is written in:
//
//   mix time  The output's running time, the one timeline everything heard is placed on. A
//             sample mixed for mix time t is heard when the clock's running time is t plus the
//             output's latency.
//   mixed     What the mixer has mixed so far, up to a mix time. The mixer works in bursts, as
//             the sound server asks for data; "now as mixed" is that, smoothed on a steady clock.
//   lead      How far past now as mixed a change is placed: the strips process their data up to
//             that far ahead of the mixer, so a change placed there lands exactly where it is
//             meant to, on the mix's timeline. Every level change and every start is placed so.
//   strip     A device's way into the mixer: its level, its crossfade envelope and its balance,
//             joined to the mixer at a mix-time offset. Files cued one after another share one.
//   leader    The device whose file plays on a strip now; its follower is the device cued to
//             play on from the sample where the leader's file ends.
//   held      A source stopped at the sample it will start from, decoded and waiting: ready to
//             play. A file is opened once it is held.
//   heard     When the sound server plays a mix time: ends and positions are told as heard, so
//             the music comes back up only after a message's last word.
//   let go    A source cut off from its strip; what it reports then is not the file's fault.
namespace Platform::Mci {

// Command strings in, devices by alias. Every device is an input of one long-lived mixer and
// output stream (Output), so the sound server sees one stream from the first open to the end,
// whatever starts and stops.
//
// The output's bus is watched from the caller's event loop, so the end of a file or a failure is
// posted as a notice at once; a command addressing a device reads the bus too. Nothing calls into
// the program from GStreamer's threads, and no command waits on the sound for long: what cannot
// be ready within a short bound (a slow sound server, a slow disk) completes from the event loop
// later, a failure then told by a notice.
//
// Beyond the usual commands: "cue <alias> after <alias>" has an open device start at the sample
// where the other's file ends, and take over its alias, level and balance there (a notice says
// so). With "overlap <ms>" the two crossfade instead: the cued device starts that long before the
// other's end, rising while the other falls, and takes over the alias as the crossfade is heard
// to begin; the outgoing file plays out under no alias, at the level set for the alias, and goes
// with it. Time formats: "milliseconds" (or "ms"), and "frames" of 40 ms each (25 per second).
// Lengths are rounded up, and a "to" position at the length plays to the very end of the file.
class GstDevices : public Service {
public:
    using SinkFactory = Output::SinkFactory;
    // A file's own gain, a factor applied before the device's volume (loudness evened out); asked
    // once per open. None: every file plays at its own level.
    using GainLookup = std::function<double(const std::string& file)>;
    // Where a file's sound starts and ends (ns), for one to play without its silent ends; asked
    // once per open. Nothing: the whole file plays.
    using TrimLookup =
        std::function<std::optional<std::pair<gint64, gint64>>(const std::string& file)>;

    // How long a command may wait on the sound: a local file is held well within it.
    static constexpr std::chrono::milliseconds kWaitOnLoop{200};

    // `readyWithin`: how long a file may take to be held before it fails; `waitOnLoop`: how much
    // of that a command waits before it goes on and the rest completes from the event loop.
    explicit GstDevices(SinkFactory sinkFactory = {},
                        std::chrono::milliseconds readyWithin = std::chrono::seconds(5),
                        GainLookup gain = {}, std::chrono::milliseconds waitOnLoop = kWaitOnLoop);
    ~GstDevices() override;
    GstDevices(const GstDevices&) = delete;
    GstDevices& operator=(const GstDevices&) = delete;

    MciError Execute(std::string_view command, std::string& reply) override;
    // The chosen output, when it is there; else the desktop's, until the chosen one comes (back),
    // which is looked for every half second. Every device fails at a change of output, so that
    // its owner starts it again there.
    MciError SelectOutput(const std::string& name) override;

    void SetTrimLookup(TrimLookup trim) { trim_ = std::move(trim); }

    // A stream that has not sent a sample for this long, or none since it was opened, has
    // stopped: it fails, and its owner plays something else.
    static constexpr std::chrono::seconds kStreamPatience{5};

    void MeasureQuiet(bool on) override;
    std::optional<std::chrono::milliseconds> Quiet() override;
    void RestartOutput() override;
    std::string StreamTitle(const std::string& alias) override;

    std::size_t OpenDeviceCount() const { return devices_.size(); }

    // A sink that plays in real time without a sound device, for tests and benchmarks.
    static SinkFactory FakeSink();

private:
    using DevicePtr = std::unique_ptr<Device>;

    // The commands (interpreter.cpp).
    MciError Open(const Command& command);
    MciError Close(const Command& command);
    MciError Play(Device& device, std::optional<std::int64_t> from, std::optional<std::int64_t> to);
    MciError Status(Device& device, const Command& command, std::string& reply);
    MciError SetAudio(Device& device, const Command& command);
    void Pause(Device& device, Device::Mode mode);
    GstClockTime StartTime() const;
    GstClockTime Heard() const;

    // Getting a file ready to play, on the loop or after (opening.cpp).
    struct Opening {
        std::uint64_t id = 0;
        std::string uri{};
        double gain = 1.0;
        std::optional<std::pair<gint64, gint64>> sound{};  // where its sound is, when trimmed
        QDeadlineTimer deadline{};
        bool built = false;
        bool missingElement = false;
        bool sought = false;  // held where its sound starts, when trimmed
        bool play = false;    // asked to play meanwhile
        bool replay = false;  // held by a play's seek, from where that play starts
    };
    // Brings the device as far as it can go now; true once it is held where it plays from.
    bool Advance(Opening& opening, Device& device);
    // Waits on the loop, within `waitOnLoop_`, for the device to be ready; false if it is not.
    bool WaitUntilReady(Opening& opening, Device& device);
    bool WaitUntilPrerolled(Device& device);
    void AdvanceOpenings();
    Opening* OpeningOf(const Device& device);
    void ArmOpeningTimer();
    MciError StartPlaying(Device& device);

    // Cues, crossfades and ends (transitions.cpp).
    MciError Cue(Device& device, const Command& command);
    MciError CueOverlapping(Device& device, Device& leader, std::int64_t overlapMs);
    GstClockTime AdvanceCrossfades();
    void BeginCrossfade(Device& leader, Device& follower);
    void TakeOver(Device& leader);
    DevicePtr TakeAlias(Device& device);
    void FinishHeardEnds();

    // Streams (streams.cpp).
    MciError UriOf(const std::string& file, std::string& uri) const;
    std::optional<std::string> StreamOf(const std::string& playlist) const;
    void WatchStreams();
    void CheckStreams();
    // A stream stopped, for `why`: told once, until it plays again.
    void StreamDown(const Device& device, const std::string& why);

    // The output and what it tells (outputkeeper.cpp).
    MciError StartOutput();
    void NoteNoOutput();
    void OnOutputStarted(bool playing);
    void Poll();
    void OnMessage(GstMessage* message);
    void OnEvent(const GstStructure* event);
    void Fail(Device& device, GstMessage* error);
    void LoseOutput(GstMessage* error);
    void AwaitOutput(const std::string& alias);
    void ArmOutputRetry();
    void RetryOutput();
    void DropOutput(bool lost);
    // The output goes, stopped at once, with what watched it.
    void ReleaseOutput();
    void FollowOutputs(bool choiceChanged);

    Device* Find(const std::string& alias) const;
    // Among the open devices and those fading out.
    Device* FindBy(const std::function<bool(const Device&)>& test) const;
    Device* FindId(std::uint64_t id) const;
    bool Fading(const Device& device) const;

    SinkFactory sinkFactory_;
    std::chrono::milliseconds readyWithin_;
    std::chrono::milliseconds waitOnLoop_;
    GainLookup gain_;
    TrimLookup trim_;
    std::unique_ptr<Output> output_;
    std::string chosenOutput_;        // empty: the desktop's
    std::string outputDevice_;        // what the output plays to now; empty: the desktop's
    OutputWatch* outputs_ = nullptr;  // while an output is chosen
    QTimer outputsTimer_;
    QSocketNotifier* busWatch_ = nullptr;
    std::map<std::string, DevicePtr> devices_;  // keyed by the alias in lower case
    std::vector<Opening> openings_;             // devices not yet ready to play
    // A crossfade, from its cue until the outgoing file has played out.
    struct Crossfade {
        std::uint64_t from = 0;  // the outgoing device
        std::uint64_t to = 0;    // the incoming one
        std::uint64_t toStrip = 0;
        GstClockTime at = 0;  // the mix time it begins at
        bool begun = false;   // the incoming device has the alias
    };
    std::vector<Crossfade> crossfades_;
    std::vector<DevicePtr> fading_;  // outgoing devices that lost their alias
    std::uint64_t nextId_ = 1;
    GstClockTime levelSetUntil_ = 0;        // the mix time the last level ramp ends at
    bool outputLost_ = false;               // the last try found no sound output
    std::set<std::string> awaitingOutput_;  // aliases that found no output, told when it is back
    QObject timerContext_;                  // ends this service's timers with it
    QTimer endTimer_;                       // due when the next end that is still to be heard is
    QTimer openingTimer_;                   // due when the next opening's time is up
    QTimer streamTimer_;                    // while streams are open, to tell a stall
    std::set<std::string> streamsDown_;     // streams told to have stopped, by their playlist
    QuietMeter meter_;
    gint64 measuredSince_ = 0;  // the steady time (ns) the mix began to be measured
};

}  // namespace Platform::Mci
