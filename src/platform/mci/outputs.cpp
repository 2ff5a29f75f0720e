#include "platform/mci/outputs.h"

#include <algorithm>
#include <utility>

#include "platform/mci/decoder.h"

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

// The outputs there are come from asking the server before the monitor starts: a started one
// gives only what it has heard of so far, which, just after it starts, may not be all.
OutputWatch::OutputWatch() {
    Decoder::Init();
    monitor_ = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor_, "Audio/Sink", nullptr);
    bus_ = gst_device_monitor_get_bus(monitor_);
    GList* devices = gst_device_monitor_get_devices(monitor_);
    for (GList* item = devices; item != nullptr; item = item->next) {
        Add(static_cast<GstDevice*>(item->data));
    }
    g_list_free_full(devices, gst_object_unref);
    gst_device_monitor_start(monitor_);
}

OutputWatch::~OutputWatch() {
    gst_device_monitor_stop(monitor_);
    gst_object_unref(bus_);
    gst_object_unref(monitor_);
}

void OutputWatch::Add(GstDevice* device) {
    std::string name = ServerName(device);
    if (name.empty()) {
        return;
    }
    gchar* description = gst_device_get_display_name(device);
    outputs_[std::move(name)] = description != nullptr ? description : "";
    g_free(description);
}

void OutputWatch::ReadNews() {
    while (GstMessage* message = gst_bus_pop(bus_)) {
        GstDevice* device = nullptr;
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_ADDED) {
            gst_message_parse_device_added(message, &device);
            Add(device);
            news_.any = true;
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_REMOVED) {
            gst_message_parse_device_removed(message, &device);
            const std::string name = ServerName(device);
            outputs_.erase(name);
            news_.removed.insert(name);
            news_.any = true;
        }
        if (device != nullptr) {
            gst_object_unref(device);
        }
        gst_message_unref(message);
    }
}

std::vector<OutputChoice> OutputWatch::List() {
    ReadNews();
    std::vector<OutputChoice> outputs;
    for (const auto& [name, description] : outputs_) {
        outputs.push_back({name, description});
    }
    std::sort(outputs.begin(), outputs.end(), [](const OutputChoice& a, const OutputChoice& b) {
        return a.description < b.description;
    });
    return outputs;
}

bool OutputWatch::Has(const std::string& name) {
    ReadNews();
    return outputs_.count(name) != 0;
}

OutputWatch::Changes OutputWatch::TakeChanges() {
    ReadNews();
    return std::exchange(news_, {});
}

}  // namespace Platform::Mci
