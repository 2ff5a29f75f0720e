#pragma once

#include <gst/gst.h>

// Decoders set up alike wherever a file is decoded, so that a file measured for its loudness sounds
// the same as when it plays.
namespace Platform::Mci::Decoder {

// GStreamer made ready, once per process, before anything decodes: safe from any thread.
void Init();

void SetUp(GstElement* element);

// A "deep-element-added" handler that sets up each decoder as it is made, before it decodes.
void OnElementAdded(GstBin* bin, GstBin* subBin, GstElement* element, gpointer data);

}  // namespace Platform::Mci::Decoder
