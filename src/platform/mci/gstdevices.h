#pragma once

#include <gst/gst.h>

#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>

#include "platform/mci/commandline.h"
#include "platform/mci/mci.h"

namespace Platform::Mci {

// The media control interface over GStreamer: one playbin per open device, all driven from the
// caller's thread. Each pipeline's bus is watched from that thread's event loop, so the end of a
// file or a failure is posted as a notice at once; a command addressing the device reads the bus
// too. Nothing calls into the program from GStreamer's threads.
//
// A device closed after it has played to its end keeps its (silent) output stream open a little
// longer: a sound server whose last stream goes away falls back to long buffers, and the next file
// would be heard only after them.
//
// Time formats: "milliseconds" (or "ms"), and "frames" of 40 ms each (25 per second). Lengths are
// rounded up, and a "to" position at the length plays to the very end of the file.
class GstDevices : public Service {
public:
    // Makes the audio sink of each new device, e.g. an autoaudiosink; null means autoaudiosink.
    using SinkFactory = std::function<GstElement*()>;

    explicit GstDevices(SinkFactory sinkFactory = {},
                        std::chrono::milliseconds openTimeout = std::chrono::seconds(5));

    // How long a device closed at its end keeps its output stream.
    static constexpr std::chrono::milliseconds kLingerAfterEnd{300};
    ~GstDevices() override;
    GstDevices(const GstDevices&) = delete;
    GstDevices& operator=(const GstDevices&) = delete;

    MciError Execute(std::string_view command, std::string& reply) override;

    std::size_t OpenDeviceCount() const { return devices_.size(); }
    std::size_t LingeringDeviceCount() const { return lingering_.size(); }

    // Sets up a decoder element as playback does, so that a file decoded elsewhere (to measure its
    // loudness, say) sounds the same as when it plays.
    static void SetUpDecoder(GstElement* element);

    // A sink that plays in real time without a sound device, for tests and benchmarks.
    static SinkFactory FakeSink();

private:
    struct Device;
    using DevicePtr = std::unique_ptr<Device, void (*)(Device*)>;

    MciError Open(const Command& command);
    MciError Close(const Command& command);
    MciError Play(Device& device, const Command& command);
    MciError Status(Device& device, const Command& command, std::string& reply);
    MciError SetAudio(Device& device, const Command& command);
    Device* Find(const std::string& alias);
    void Linger(DevicePtr device);

    SinkFactory sinkFactory_;
    std::chrono::milliseconds openTimeout_;
    std::map<std::string, DevicePtr> devices_;                  // keyed by the alias in lower case
    std::list<std::pair<std::uint64_t, DevicePtr>> lingering_;  // closed at their end, by serial
    std::uint64_t nextSerial_ = 0;
    bool outputLost_ = false;  // the last open found no sound output
    QObject timerContext_;     // ends the lingering devices' timers with this service
};

}  // namespace Platform::Mci
