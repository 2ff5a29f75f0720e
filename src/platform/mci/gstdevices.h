#pragma once

#include <gst/gst.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/mci/commandline.h"
#include "platform/mci/mci.h"

namespace Platform::Mci {

// The media control interface over GStreamer: one playbin per open device, all driven from the
// caller's thread. The end of a file and playback errors are read from each pipeline's bus when a
// command addresses the device; nothing calls back into the program from GStreamer's threads.
//
// Time formats: "milliseconds" (or "ms"), and "frames" of 40 ms each (25 per second). Lengths are
// rounded up, and a "to" position at the length plays to the very end of the file.
class GstDevices : public Service {
public:
    // Makes the audio sink of each new device, e.g. an autoaudiosink; null means autoaudiosink.
    using SinkFactory = std::function<GstElement*()>;

    explicit GstDevices(SinkFactory sinkFactory = {},
                        std::chrono::milliseconds openTimeout = std::chrono::seconds(5));
    ~GstDevices() override;
    GstDevices(const GstDevices&) = delete;
    GstDevices& operator=(const GstDevices&) = delete;

    MciError Execute(std::string_view command, std::string& reply) override;

    std::size_t OpenDeviceCount() const { return devices_.size(); }

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

    SinkFactory sinkFactory_;
    std::chrono::milliseconds openTimeout_;
    std::map<std::string, DevicePtr> devices_;  // keyed by the alias in lower case
};

}  // namespace Platform::Mci
