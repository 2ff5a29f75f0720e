// Media command strings: whatever is parsed keeps its values in range, and a command written back
// from what was parsed parses to the same thing.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/mci/commandline.h"

using namespace Platform::Mci;

namespace {

std::string Quoted(const std::string& word) {
    return '"' + word + '"';
}

const char* SideWord(Side side) {
    return side == Side::Left ? " left" : side == Side::Right ? " right" : "";
}

// The command in a canonical spelling, or "" where a value cannot be written back (a quote in a
// name, say).
std::string Written(const Command& c) {
    for (const std::string* word : {&c.device, &c.type, &c.alias, &c.after}) {
        if (word->find('"') != std::string::npos) {
            return {};
        }
    }
    const std::string device = Quoted(c.device);
    switch (c.verb) {
        case Verb::Open:
            return "open " + device + (c.type.empty() ? "" : " type " + Quoted(c.type)) +
                   " alias " + Quoted(c.alias);
        case Verb::Close:
            return c.all ? "close all" : "close " + device;
        case Verb::Play:
            return "play " + device + (c.from ? " from " + std::to_string(*c.from) : "") +
                   (c.to ? " to " + std::to_string(*c.to) : "");
        case Verb::Pause:
            return "pause " + device;
        case Verb::Resume:
            return "resume " + device;
        case Verb::Stop:
            return "stop " + device;
        case Verb::Status: {
            static const char* const kItems[] = {"mode",   "length",      "position",
                                                 "volume", "time format", "ready"};
            return "status " + device + SideWord(c.side) + ' ' + kItems[int(c.item)];
        }
        case Verb::Set:
            return "set " + device + " time format " +
                   (c.timeFormat == TimeFormat::Frames ? "frames" : "milliseconds");
        case Verb::SetAudio:
            return "setaudio " + device + SideWord(c.side) + " volume to " +
                   std::to_string(c.volume);
        case Verb::Cue:
            return "cue " + device + " after " + Quoted(c.after);
    }
    return {};
}

bool Same(const Command& a, const Command& b) {
    // "close all" in any spelling closes all; the word itself is not kept.
    return a.verb == b.verb && a.all == b.all && (a.all || a.device == b.device) &&
           a.type == b.type && a.alias == b.alias && a.from == b.from && a.to == b.to &&
           a.item == b.item && a.timeFormat == b.timeFormat && a.side == b.side &&
           a.volume == b.volume && a.after == b.after;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Command parsed;
    if (ParseCommand(text, parsed) != kNoError) {
        return 0;
    }
    if (parsed.volume < 0 || parsed.volume > 1000 || (parsed.from && *parsed.from < 0) ||
        (parsed.to && *parsed.to < 0) || (parsed.verb != Verb::Close && parsed.device.empty())) {
        std::abort();  // a value out of its range got through
    }
    const std::string again = Written(parsed);
    if (again.empty()) {
        return 0;
    }
    Command reparsed;
    if (ParseCommand(again, reparsed) != kNoError || !Same(parsed, reparsed)) {
        std::abort();  // the command written back means something else
    }
    return 0;
}
