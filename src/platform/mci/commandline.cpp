#include "platform/mci/commandline.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace Platform::Mci {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Reads a whole number. A negative number is well-formed but outside every range of positions and
// volumes, so it is refused as out of range rather than as malformed.
MciError ReadNumber(std::string_view word, std::int64_t& value, bool allowNegative = false) {
    std::int64_t parsed = 0;
    const char* begin = word.data();
    const char* end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars(begin, end, parsed);
    if (word.empty() || ec != std::errc() || ptr != end) {
        return ec == std::errc::result_out_of_range ? kErrOutOfRange : kErrBadInteger;
    }
    if (parsed < 0 && !allowNegative) {
        return kErrOutOfRange;
    }
    value = parsed;
    return kNoError;
}

class WordReader {
public:
    explicit WordReader(const std::vector<std::string>& words) : words_(words) {}

    bool AtEnd() const { return next_ >= words_.size(); }
    const std::string& Take() { return words_[next_++]; }
    std::string TakeKeyword() { return Lower(Take()); }
    bool TakeIf(std::string_view keyword) {
        if (!AtEnd() && Lower(words_[next_]) == keyword) {
            ++next_;
            return true;
        }
        return false;
    }

private:
    const std::vector<std::string>& words_;
    std::size_t next_ = 0;
};

MciError ParseOpen(WordReader& in, Command& command) {
    while (!in.AtEnd()) {
        const std::string keyword = in.TakeKeyword();
        if (keyword == "wait" || keyword == "shareable") {
            continue;
        }
        if (in.AtEnd()) {
            return kErrMissingParameter;
        }
        if (keyword == "type") {
            command.type = in.Take();
        } else if (keyword == "alias") {
            command.alias = in.Take();
        } else if (keyword == "parent" || keyword == "style") {
            std::int64_t ignored = 0;
            if (const MciError e = ReadNumber(in.Take(), ignored, true); e != kNoError) {
                return e;
            }
        } else {
            return kErrUnrecognizedKeyword;
        }
    }
    if (command.alias.empty()) {
        command.alias = command.device;
    }
    return Lower(command.alias) == "all" ? kErrOutOfRange : kNoError;
}

MciError ParsePlay(WordReader& in, Command& command) {
    while (!in.AtEnd()) {
        const std::string keyword = in.TakeKeyword();
        if (keyword != "from" && keyword != "to") {
            return kErrUnrecognizedKeyword;
        }
        if (in.AtEnd()) {
            return kErrMissingParameter;
        }
        std::int64_t value = 0;
        if (const MciError e = ReadNumber(in.Take(), value); e != kNoError) {
            return e;
        }
        (keyword == "from" ? command.from : command.to) = value;
    }
    return kNoError;
}

Side ReadSide(WordReader& in) {
    if (in.TakeIf("left")) {
        return Side::Left;
    }
    if (in.TakeIf("right")) {
        return Side::Right;
    }
    return Side::Both;
}

MciError ParseStatus(WordReader& in, Command& command) {
    command.side = ReadSide(in);
    if (in.AtEnd()) {
        return kErrMissingParameter;
    }
    const std::string item = in.TakeKeyword();
    if (item == "mode") {
        command.item = StatusItem::Mode;
    } else if (item == "length") {
        command.item = StatusItem::Length;
    } else if (item == "position") {
        command.item = StatusItem::Position;
    } else if (item == "volume") {
        command.item = StatusItem::Volume;
    } else if (item == "ready") {
        command.item = StatusItem::Ready;
    } else if (item == "time" && in.TakeIf("format")) {
        command.item = StatusItem::TimeFormat;
    } else {
        return kErrUnrecognizedKeyword;
    }
    if (command.side != Side::Both && command.item != StatusItem::Volume) {
        return kErrUnrecognizedKeyword;
    }
    return in.AtEnd() ? kNoError : kErrUnrecognizedKeyword;
}

MciError ParseSet(WordReader& in, Command& command) {
    if (!in.TakeIf("time") || !in.TakeIf("format")) {
        return in.AtEnd() ? kErrMissingParameter : kErrUnrecognizedKeyword;
    }
    if (in.AtEnd()) {
        return kErrMissingParameter;
    }
    const std::string format = in.TakeKeyword();
    if (format == "ms" || format == "milliseconds") {
        command.timeFormat = TimeFormat::Milliseconds;
    } else if (format == "frames") {
        command.timeFormat = TimeFormat::Frames;
    } else {
        return kErrOutOfRange;
    }
    return in.AtEnd() ? kNoError : kErrUnrecognizedKeyword;
}

MciError ParseSetAudio(WordReader& in, Command& command) {
    command.side = ReadSide(in);
    if (!in.TakeIf("volume") || !in.TakeIf("to")) {
        return in.AtEnd() ? kErrMissingParameter : kErrUnrecognizedKeyword;
    }
    if (in.AtEnd()) {
        return kErrMissingParameter;
    }
    if (const MciError e = ReadNumber(in.Take(), command.volume); e != kNoError) {
        return e;
    }
    if (command.volume > 1000) {
        return kErrOutOfRange;
    }
    return in.AtEnd() ? kNoError : kErrUnrecognizedKeyword;
}

// "cue <alias> after <alias> [overlap <ms>]"
MciError ParseCue(WordReader& in, Command& command) {
    if (!in.TakeIf("after")) {
        return in.AtEnd() ? kErrMissingParameter : kErrUnrecognizedKeyword;
    }
    if (in.AtEnd()) {
        return kErrMissingParameter;
    }
    command.after = in.Take();
    if (in.TakeIf("overlap")) {
        if (in.AtEnd()) {
            return kErrMissingParameter;
        }
        if (const MciError e = ReadNumber(in.Take(), command.overlap); e != kNoError) {
            return e;
        }
    }
    return in.AtEnd() ? kNoError : kErrUnrecognizedKeyword;
}

}  // namespace

std::string Lower(std::string_view word) {
    std::string result(word);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

MciError Tokenize(std::string_view text, std::vector<std::string>& words) {
    words.clear();
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsBlank(text[i])) {
            ++i;
            continue;
        }
        if (text[i] == '"') {
            const std::size_t close = text.find('"', i + 1);
            if (close == std::string_view::npos) {
                return kErrUnterminatedQuote;
            }
            words.emplace_back(text.substr(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !IsBlank(text[end])) {
            ++end;
        }
        words.emplace_back(text.substr(i, end - i));
        i = end;
    }
    return kNoError;
}

MciError ParseCommand(std::string_view text, Command& command) {
    std::vector<std::string> words;
    if (const MciError e = Tokenize(text, words); e != kNoError) {
        return e;
    }
    if (words.empty()) {
        return kErrUnrecognizedCommand;
    }
    WordReader in(words);
    const std::string verb = in.TakeKeyword();
    static constexpr std::pair<std::string_view, Verb> kVerbs[] = {
        {"open", Verb::Open},     {"close", Verb::Close},   {"play", Verb::Play},
        {"pause", Verb::Pause},   {"resume", Verb::Resume}, {"stop", Verb::Stop},
        {"status", Verb::Status}, {"set", Verb::Set},       {"setaudio", Verb::SetAudio},
        {"cue", Verb::Cue},
    };
    const auto found = std::find_if(std::begin(kVerbs), std::end(kVerbs),
                                    [&](const auto& entry) { return entry.first == verb; });
    if (found == std::end(kVerbs)) {
        return kErrUnrecognizedCommand;
    }
    command = Command{};
    command.verb = found->second;
    if (in.AtEnd()) {
        return kErrMissingParameter;
    }
    command.device = in.Take();
    if (command.device.empty()) {
        return kErrMissingParameter;
    }
    switch (command.verb) {
        case Verb::Open:
            return ParseOpen(in, command);
        case Verb::Close:
            command.all = Lower(command.device) == "all";
            in.TakeIf("wait");
            return in.AtEnd() ? kNoError : kErrUnrecognizedKeyword;
        case Verb::Play:
            return ParsePlay(in, command);
        case Verb::Pause:
        case Verb::Resume:
        case Verb::Stop:
            return in.AtEnd() ? kNoError : kErrUnrecognizedKeyword;
        case Verb::Status:
            return ParseStatus(in, command);
        case Verb::Set:
            return ParseSet(in, command);
        case Verb::SetAudio:
            return ParseSetAudio(in, command);
        case Verb::Cue:
            return ParseCue(in, command);
    }
    return kErrUnrecognizedCommand;
}

}  // namespace Platform::Mci
