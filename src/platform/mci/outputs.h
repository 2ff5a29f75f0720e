#pragma once

#include <gst/gst.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/mci/mci.h"

// The sound server's outputs, as its device monitor reports them: each by the server's own name
// for it, which a setting keeps, and the description a person reads.
namespace Platform::Mci {

// Follows the outputs as they come and go (a USB device plugged in or out, a sink added). One for
// the program, from its first use to its end: GStreamer's device providers are one per kind,
// shared by every monitor, so a second watch would only see the same.
class OutputWatch {
public:
    static OutputWatch& Instance();
    ~OutputWatch();
    OutputWatch(const OutputWatch&) = delete;
    OutputWatch& operator=(const OutputWatch&) = delete;

    std::vector<OutputChoice> List();  // by description
    bool Has(const std::string& name);

    // What came and went since the last call.
    struct Changes {
        bool any = false;
        std::set<std::string> removed;  // by name
    };
    Changes TakeChanges();

private:
    OutputWatch();
    void Add(GstDevice* device);
    void ReadNews();

    GstDeviceMonitor* monitor_ = nullptr;
    GstBus* bus_ = nullptr;
    std::map<std::string, std::string> outputs_;  // description by name
    Changes news_;
};

}  // namespace Platform::Mci
