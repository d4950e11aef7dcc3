#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora::engine {

// Titles longer than this many characters are cut, and end in an ellipsis.
inline constexpr std::size_t kMaxTitleCharacters = 120;

// The engine's one reading of text of unknown encoding: the bytes as they are
// when they are valid UTF-8 (NUL bytes included), otherwise read as Latin-1,
// what old radio servers and playlists written on Windows send. Always valid
// UTF-8; no byte is lost.
std::string utf8OrLatin1(std::string_view bytes);

// A title fit for the status line, from a stream or from a playlist: the
// bytes as utf8OrLatin1 reads them; control characters and bidirectional
// embedding, override and isolate characters dropped, surrounding spaces
// trimmed, cut to kMaxTitleCharacters.
std::string streamTitleText(std::string_view bytes);

}  // namespace velmora::engine
