#include "platform/mci/playlist.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>

namespace Platform::Mci::Playlist {

namespace {

// Longer than any station's address: rather a damaged file than a stream.
constexpr std::size_t kLongestAddress = 2048;

char Lowered(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lowered(a[i]) != Lowered(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameLetters(text.substr(0, prefix.size()), prefix);
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           SameLetters(text.substr(text.size() - suffix.size()), suffix);
}

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// An address the player can open as a stream: http(s), a host, and no blank or control character,
// which no real address holds.
bool IsStream(std::string_view entry) {
    if (entry.size() > kLongestAddress) {
        return false;
    }
    for (const char c : entry) {
        if (static_cast<unsigned char>(c) <= ' ' || c == '\x7f') {
            return false;
        }
    }
    const std::size_t scheme = StartsWith(entry, "http://")    ? 7
                               : StartsWith(entry, "https://") ? 8
                                                               : 0;
    return scheme > 0 && entry.size() > scheme && entry.find_first_of("/?#", scheme) != scheme;
}

std::optional<std::string> StreamIn(std::string_view entry) {
    return IsStream(entry) ? std::optional(std::string(entry)) : std::nullopt;
}

// Calls `take` with each line, trimmed, until it returns true. A line ends at "\n" or "\r"
// alone: the empty line this makes inside "\r\n" means nothing in either form.
template <typename Take>
void ForEachLine(std::string_view text, const Take& take) {
    if (StartsWith(text, "\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    while (!text.empty()) {
        const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
        if (take(Trimmed(text.substr(0, end)))) {
            return;
        }
        text.remove_prefix(std::min(end + 1, text.size()));
    }
}

std::optional<std::string> FromM3u(std::string_view text) {
    std::optional<std::string> stream;
    ForEachLine(text, [&](std::string_view line) {
        if (line.empty() || line.front() == '#') {
            return false;
        }
        stream = StreamIn(line);
        return true;
    });
    return stream;
}

// The entries are "FileN=" keys of the [playlist] section, in the order of N, whatever the order
// of the lines.
std::optional<std::string> FromPls(std::string_view text) {
    bool inPlaylist = false;
    std::uint64_t lowest = 0;  // the N of `first`; 0 while there is none
    std::string_view first;
    ForEachLine(text, [&](std::string_view line) {
        if (line.starts_with('[') && line.ends_with(']')) {
            inPlaylist = SameLetters(line, "[playlist]");
            return false;
        }
        const std::size_t equals = line.find('=');
        const std::string_view key = Trimmed(line.substr(0, equals));
        if (!inPlaylist || equals == std::string_view::npos || !StartsWith(key, "file")) {
            return false;
        }
        const std::string_view digits = key.substr(4);
        std::uint64_t n = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (error == std::errc() && end == digits.data() + digits.size() && n > 0 &&
            (lowest == 0 || n < lowest)) {
            lowest = n;
            first = Trimmed(line.substr(equals + 1));
        }
        return false;
    });
    return lowest > 0 ? StreamIn(first) : std::nullopt;
}

}  // namespace

bool IsPlaylist(std::string_view path) {
    return EndsWith(path, ".m3u") || EndsWith(path, ".m3u8") || EndsWith(path, ".pls");
}

std::optional<std::string> StreamOf(std::string_view text, bool pls) {
    return pls ? FromPls(text) : FromM3u(text);
}

std::optional<std::string> ReadStream(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    // One byte past the largest is enough to know the file is too large, however large it is.
    std::string text(kLargest + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad() || static_cast<std::size_t>(file.gcount()) > kLargest) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(file.gcount()));
    return StreamOf(text, EndsWith(path, ".pls"));
}

}  // namespace Platform::Mci::Playlist
