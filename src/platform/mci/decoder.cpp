#include "platform/mci/decoder.h"

namespace Platform::Mci::Decoder {

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
