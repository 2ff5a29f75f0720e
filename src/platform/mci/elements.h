#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <span>

// What the output, the strips and the devices do alike with the elements they put into the one
// pipeline, which may be playing while they come and go.
namespace Platform::Mci {

// Drops elements made for a pipeline they never joined, leaving each null; a null one is skipped.
void Discard(std::span<GstElement*> elements);

// Into a pipeline that may be playing, held in their state: a pipeline finishing a state change
// sets all it holds playing, and a decoder started before its pads are watched and its output
// linked pushes into nothing and fails ("not-linked").
void AddHeld(GstElement* pipeline, std::span<GstElement* const> elements);

// Lets them follow the pipeline again, downstream first, so that each finds the next one running.
void StartAll(std::span<GstElement* const> elements);

// Downstream first: a pad that goes flushing frees a thread blocked further down before the
// elements upstream wait for it. Each is locked in its state first: the pipeline, finishing a
// state change that a newly added source began, would otherwise set them all playing again, and
// one removed while playing keeps a streaming thread that nothing stops.
void StopAll(std::span<GstElement* const> elements);
void RemoveAll(GstElement* pipeline, std::span<GstElement* const> elements);

// Whether `object` is one of the elements or inside one.
bool OwnsAny(GstObject* object, std::span<GstElement* const> elements);

// Tells the thread that sends the commands, through the output's bus, what a streaming thread
// saw: `event` of the strip or device `id` ("strip" or "device" as `key`), at mix time `at`.
void PostEvent(GstElement* from, const char* event, const char* key, std::uint64_t id,
               GstClockTime at = 0);

}  // namespace Platform::Mci
