#include "platform/mci/device.h"

// A device that plays a live stream from the network: the connection's settings, its title tags
// and the time its last sample passed, by which a stall is told from a quiet passage.
namespace Platform::Mci {

namespace {

void SetIfThere(GstElement* element, const char* property, const GValue* value) {
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), property) != nullptr) {
        g_object_set_property(G_OBJECT(element), property, value);
    }
}

}  // namespace

void Device::WatchStream() {
    g_signal_connect(elements_[kDecoder], "source-setup", G_CALLBACK(&Device::OnSourceSetup), this);
    gst_pad_add_probe(
        out_,
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        &Device::OnSample, this, nullptr);
}

// A stream that stops is taken over by the folder's next file; the HTTP source's own retries
// and its long timeout would only keep the silence going: its timeout is the stall's 5 s, which it
// tells first, as the buffered sound still plays. Redirects and the system's certificate
// checks stay as the source has them.
void Device::OnSourceSetup(GstElement* /*decoder*/, GstElement* source, gpointer /*self*/) {
    constexpr guint kTimeoutSeconds = 5;
    GValue value = G_VALUE_INIT;
    g_value_init(&value, G_TYPE_INT);
    g_value_set_int(&value, 0);
    SetIfThere(source, "retries", &value);
    g_value_unset(&value);
    g_value_init(&value, G_TYPE_UINT);
    g_value_set_uint(&value, kTimeoutSeconds);
    SetIfThere(source, "timeout", &value);
    g_value_unset(&value);
    g_value_init(&value, G_TYPE_STRING);
    g_value_set_static_string(&value, "Corvane");
    SetIfThere(source, "user-agent", &value);
    g_value_unset(&value);
}

GstPadProbeReturn Device::OnSample(GstPad* /*pad*/, GstPadProbeInfo* /*info*/, gpointer self) {
    static_cast<Device*>(self)->lastSample_ = g_get_monotonic_time();
    return GST_PAD_PROBE_OK;
}

void Device::NoteTags(GstEvent* event) {
    GstTagList* tags = nullptr;
    gst_event_parse_tag(event, &tags);
    gchar* title = nullptr;
    if (tags != nullptr && gst_tag_list_get_string(tags, GST_TAG_TITLE, &title)) {
        const std::lock_guard lock(titleLock_);
        title_ = title;
    }
    g_free(title);
}

std::string Device::Title() const {
    const std::lock_guard lock(titleLock_);
    return title_;
}

}  // namespace Platform::Mci
