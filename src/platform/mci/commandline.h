#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mci/mci.h"

// Turns a media command string into a structured command. Keywords are matched without regard to
// case, blanks and tabs separate words, trailing blanks are ignored and a word in double quotes may
// hold blanks.
namespace Platform::Mci {

enum class Verb { Open, Close, Play, Pause, Resume, Stop, Status, Set, SetAudio, Cue };
enum class StatusItem { Mode, Length, Position, Volume, TimeFormat, Ready };
enum class TimeFormat { Milliseconds, Frames };
enum class Side { Both, Left, Right };

// Every member has an initializer, so that a command may be written with only the fields it sets.
struct Command {
    Verb verb = Verb::Status;
    std::string device{};  // the alias; for open, the file name
    bool all = false;      // "close all"

    // open
    std::string type{};
    std::string alias{};

    // cue: the device it plays after, and how long the two overlap (0: none, gapless)
    std::string after{};
    std::int64_t overlap = 0;

    // play
    std::optional<std::int64_t> from{};
    std::optional<std::int64_t> to{};

    // status, set, setaudio
    StatusItem item = StatusItem::Mode;
    TimeFormat timeFormat = TimeFormat::Milliseconds;
    Side side = Side::Both;
    std::int64_t volume = 0;
};

// The word in lower case, as keywords and aliases are compared.
std::string Lower(std::string_view word);

// Splits a command into words; fails on an unterminated quote.
MciError Tokenize(std::string_view text, std::vector<std::string>& words);

MciError ParseCommand(std::string_view text, Command& command);

}  // namespace Platform::Mci
