#include "platform/mci/decoder.h"

namespace Platform::Mci::Decoder {

void Init() {
    static const bool ready = [] {
        if (!gst_is_initialized()) {
            gst_init(nullptr, nullptr);
        }
        // MP3s go to mpg123 rather than to libav's decoder, which ranks alike and wins on its
        // name: libav brings a long tail of libraries (video codecs, filters, speech voices) into
        // memory, some 30 MB beside the 50 the program needs, for a decoder that sounds the same
        // and honours the same encoder delay and padding. Other formats still find libav.
        if (GstPluginFeature* mpg123 =
                gst_registry_lookup_feature(gst_registry_get(), "mpg123audiodec")) {
            gst_plugin_feature_set_rank(mpg123, GST_RANK_PRIMARY + 1);
            gst_object_unref(mpg123);
        }
        return true;
    }();
    (void)ready;
}

void SetUp(GstElement* element) {
    // The MIDI synthesizer starts at a fifth of full scale, which leaves a MIDI tune far quieter
    // than recorded music or a spoken message at the same volume. Raising the gain by 12 dB brings
    // it near them while leaving headroom for many voices at once.
    constexpr double kSynthesizerGain = 0.8;
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory != nullptr &&
        g_strcmp0(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), "fluiddec") == 0) {
        g_object_set(element, "synth-gain", kSynthesizerGain, nullptr);
    }
}

void OnElementAdded(GstBin* /*bin*/, GstBin* /*subBin*/, GstElement* element, gpointer /*data*/) {
    SetUp(element);
}

}  // namespace Platform::Mci::Decoder
