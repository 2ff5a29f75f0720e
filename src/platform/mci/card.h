#pragma once

#include <gst/gst.h>

#include <string>

// The sound card's sink at the end of the output: which it is, connecting it, and its clock.
namespace Platform::Mci {

// The desktop's output, or the sound server's output of that name; not yet connected. Floating.
GstElement* MakeOutputSink(const std::string& device);

// Connects `sink` (one of MakeOutputSink's) to the sound server, with the buffer the output
// wants; false when it is refused, or plays into nothing. Blocks until the server answers.
bool ConnectCard(GstElement* sink);

// The sound card's sink: the element itself, or the first one inside a bin (autoaudiosink's
// choice); null when there is none. Not a reference of the caller's.
GstElement* AudioBaseSink(GstElement* sink);

// The clock of the sound card `card` behind the sink (AudioBaseSink's), once the sink has its
// format; null for a sink that has none (a fake one, say).
GstClock* CardClock(GstElement* sink, GstElement* card);

}  // namespace Platform::Mci
