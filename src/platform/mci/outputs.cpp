#include "platform/mci/outputs.h"

#include <algorithm>

namespace Platform::Mci {

namespace {

// The server's name for a device: what its sink element is told to play to. Devices of other
// kinds (a sound card's own ALSA device beside the server, say) have no such name and are left
// out: the program plays through the server.
std::string ServerName(GstDevice* device) {
    GstElement* element = gst_device_create_element(device, nullptr);
    if (element == nullptr) {
        return {};
    }
    std::string name;
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory != nullptr &&
        g_strcmp0(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), "pulsesink") == 0) {
        gchar* value = nullptr;
        g_object_get(element, "device", &value, nullptr);
        name = value != nullptr ? value : "";
        g_free(value);
    }
    gst_object_unref(gst_object_ref_sink(element));
    return name;
}

}  // namespace

OutputWatch& OutputWatch::Instance() {
    static OutputWatch watch;
    return watch;
}

OutputWatch::OutputWatch() {
    if (!gst_is_initialized()) {
        gst_init(nullptr, nullptr);
    }
    monitor_ = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor_, "Audio/Sink", nullptr);
    bus_ = gst_device_monitor_get_bus(monitor_);
    gst_device_monitor_start(monitor_);
}

OutputWatch::~OutputWatch() {
    gst_device_monitor_stop(monitor_);
    gst_object_unref(bus_);
    gst_object_unref(monitor_);
}

std::vector<OutputChoice> OutputWatch::List() const {
    std::vector<OutputChoice> outputs;
    GList* devices = gst_device_monitor_get_devices(monitor_);
    for (GList* item = devices; item != nullptr; item = item->next) {
        auto* device = static_cast<GstDevice*>(item->data);
        std::string name = ServerName(device);
        if (!name.empty()) {
            gchar* description = gst_device_get_display_name(device);
            outputs.push_back({std::move(name), description != nullptr ? description : ""});
            g_free(description);
        }
    }
    g_list_free_full(devices, gst_object_unref);
    std::sort(outputs.begin(), outputs.end(), [](const OutputChoice& a, const OutputChoice& b) {
        return a.description < b.description;
    });
    return outputs;
}

bool OutputWatch::Has(const std::string& name) const {
    const std::vector<OutputChoice> outputs = List();
    return std::any_of(outputs.begin(), outputs.end(),
                       [&name](const OutputChoice& output) { return output.name == name; });
}

OutputWatch::Changes OutputWatch::TakeChanges() {
    Changes changes;
    while (GstMessage* message = gst_bus_pop(bus_)) {
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_ADDED) {
            changes.any = true;
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_REMOVED) {
            changes.any = true;
            GstDevice* device = nullptr;
            gst_message_parse_device_removed(message, &device);
            changes.removed.insert(ServerName(device));
            gst_object_unref(device);
        }
        gst_message_unref(message);
    }
    return changes;
}

}  // namespace Platform::Mci
