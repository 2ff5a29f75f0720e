#include "platform/mci/elements.h"

#include <algorithm>

namespace Platform::Mci {

void Discard(std::span<GstElement*> elements) {
    for (GstElement*& element : elements) {
        if (element != nullptr) {
            gst_object_unref(gst_object_ref_sink(element));
            element = nullptr;
        }
    }
}

void AddHeld(GstElement* pipeline, std::span<GstElement* const> elements) {
    for (GstElement* element : elements) {
        if (element != nullptr) {
            gst_element_set_locked_state(element, TRUE);
            gst_bin_add(GST_BIN(pipeline), element);
        }
    }
}

void StartAll(std::span<GstElement* const> elements) {
    for (auto element = elements.rbegin(); element != elements.rend(); ++element) {
        if (*element != nullptr) {
            gst_element_set_locked_state(*element, FALSE);
            gst_element_sync_state_with_parent(*element);
        }
    }
}

void StopAll(std::span<GstElement* const> elements) {
    for (auto element = elements.rbegin(); element != elements.rend(); ++element) {
        if (*element != nullptr) {
            gst_element_set_locked_state(*element, TRUE);
            gst_element_set_state(*element, GST_STATE_NULL);
        }
    }
}

void RemoveAll(GstElement* pipeline, std::span<GstElement* const> elements) {
    StopAll(elements);
    for (GstElement* element : elements) {
        if (element != nullptr) {
            gst_bin_remove(GST_BIN(pipeline), element);
        }
    }
}

bool OwnsAny(GstObject* object, std::span<GstElement* const> elements) {
    return std::any_of(elements.begin(), elements.end(), [object](GstElement* element) {
        return element != nullptr && (object == GST_OBJECT(element) ||
                                      gst_object_has_as_ancestor(object, GST_OBJECT(element)));
    });
}

void PostEvent(GstElement* from, const char* event, const char* key, std::uint64_t id,
               GstClockTime at) {
    gst_element_post_message(
        from, gst_message_new_application(
                  GST_OBJECT(from),
                  gst_structure_new("corvane", "event", G_TYPE_STRING, event, key, G_TYPE_UINT64,
                                    id, "at", G_TYPE_UINT64, static_cast<guint64>(at), nullptr)));
}

}  // namespace Platform::Mci
