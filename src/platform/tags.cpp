#include "platform/tags.h"

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <memory>

#include "platform/mci/decoder.h"

namespace Platform::Tags {

namespace {

template <typename T>
struct GObjectUnref {
    void operator()(T* object) const { g_object_unref(object); }
};

QStringList TagStrings(const GstTagList* list, const char* tag) {
    QStringList values;
    const guint count = gst_tag_list_get_tag_size(list, tag);
    for (guint i = 0; i < count; ++i) {
        const gchar* value = nullptr;
        if (gst_tag_list_peek_string_index(list, tag, i, &value) && value && *value) {
            values << QString::fromUtf8(value).trimmed();
        }
    }
    values.removeAll(QString());
    return values;
}

}  // namespace

Tags Read(const QByteArray& path) {
    Tags tags;
    Platform::Mci::Decoder::Init();
    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(path.constData(), &error);
    if (!uri) {
        g_clear_error(&error);
        return tags;
    }
    const std::unique_ptr<GstDiscoverer, GObjectUnref<GstDiscoverer>> discoverer(
        gst_discoverer_new(3 * GST_SECOND, &error));
    if (!discoverer) {
        g_clear_error(&error);
        g_free(uri);
        return tags;
    }
    const std::unique_ptr<GstDiscovererInfo, GObjectUnref<GstDiscovererInfo>> info(
        gst_discoverer_discover_uri(discoverer.get(), uri, &error));
    g_free(uri);
    g_clear_error(&error);
    if (!info || gst_discoverer_info_get_result(info.get()) != GST_DISCOVERER_OK) {
        return tags;
    }
    const GstClockTime duration = gst_discoverer_info_get_duration(info.get());
    if (GST_CLOCK_TIME_IS_VALID(duration)) {
        tags.durationUs = static_cast<qint64>(duration / GST_USECOND);
    }
    if (const GstTagList* list = gst_discoverer_info_get_tags(info.get())) {
        const QStringList titles = TagStrings(list, GST_TAG_TITLE);
        tags.title = titles.isEmpty() ? QString() : titles.first();
        tags.artists = TagStrings(list, GST_TAG_ARTIST);
    }
    return tags;
}

}  // namespace Platform::Tags
