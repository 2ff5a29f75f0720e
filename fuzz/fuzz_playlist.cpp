// Playlist texts, read in both forms: a stream found is an http(s) address with a host, short,
// with no blank or control character, and written in the text just so: the reader never makes
// up or joins an address.

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/mci/playlist.h"

namespace {

constexpr std::size_t kLongestAddress = 2048;

bool StartsWithLetters(std::string_view text, std::string_view lowerPrefix) {
    if (text.size() < lowerPrefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
        if (c != lowerPrefix[i]) {
            return false;
        }
    }
    return true;
}

bool Plausible(const std::string& stream, std::string_view text) {
    const std::size_t scheme = StartsWithLetters(stream, "http://")    ? 7
                               : StartsWithLetters(stream, "https://") ? 8
                                                                       : 0;
    if (scheme == 0 || stream.size() <= scheme || stream.size() > kLongestAddress ||
        std::string_view("/?#").find(stream[scheme]) != std::string_view::npos) {
        return false;
    }
    for (const char c : stream) {
        if (static_cast<unsigned char>(c) < 0x21 || c == '\x7f') {
            return false;
        }
    }
    return text.find(stream) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const bool pls : {false, true}) {
        const std::optional<std::string> stream = Platform::Mci::Playlist::StreamOf(text, pls);
        if (stream && !Plausible(*stream, text)) {
            std::abort();
        }
    }
    return 0;
}
