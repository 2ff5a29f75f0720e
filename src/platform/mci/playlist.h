#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// A playlist file in a music folder (.m3u, .m3u8 or .pls) stands for the internet radio stream
// its first entry names. Only that first entry counts, and only when it is an http:// or https://
// address: a playlist of local files, or one too large to be a station's, plays nothing.
namespace Platform::Mci::Playlist {

// Larger than any station's playlist: such a file is not read at all.
inline constexpr std::size_t kLargest = 64 * 1024;

// Whether the file's name marks it as a playlist, whatever its content.
bool IsPlaylist(std::string_view path);

// The stream that a playlist's text names; none when its first entry is no http(s) address.
// `pls`: the text is in the .pls form ("File1=..."), else in the .m3u form (one entry a line,
// "#" lines are comments).
std::optional<std::string> StreamOf(std::string_view text, bool pls);

// The same for the file at `path`; none when it cannot be read or is larger than kLargest.
std::optional<std::string> ReadStream(const std::string& path);

}  // namespace Platform::Mci::Playlist
