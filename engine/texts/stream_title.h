#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora::engine {

// Titles longer than this many characters are cut, and end in an ellipsis.
inline constexpr std::size_t kMaxTitleCharacters = 120;

// A title fit for the status line, from a stream or from a playlist: the
// bytes as decodeUnknownText reads them; control characters and bidirectional
// embedding, override and isolate characters dropped, surrounding spaces
// trimmed, cut to kMaxTitleCharacters.
std::string streamTitleText(std::string_view bytes);

}  // namespace velmora::engine
