#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmora::engine {

// The engine's one reading of text whose charset nobody names: ICY titles,
// the icy-name header, playlists. Returns valid UTF-8; never fails.
//
// Valid UTF-8 stays as it is, unless every character of it is Latin-1 and
// some are not ASCII: that is what GStreamer (and servers that re-encode)
// make of bytes in another charset, so those characters are taken back to
// their bytes. Bytes that are not UTF-8 are read as the first that fits of:
// Western text (Windows-1252, else Latin-1), Korean in EUC-KR (or its
// superset CP949), Chinese in GB18030, then
// whichever of Big5, Shift-JIS (CP932), Windows-1251 and KOI8 reads most
// naturally, uchardet's guess weighing in; Windows-1252 when none does.
std::string decodeUnknownText(std::string_view bytes);

// Text in a named charset (an iconv name), as UTF-8; nothing when a byte
// sequence the charset does not define is met anywhere in it.
std::optional<std::string> convertStrictly(std::string_view bytes, const char* charset);

}  // namespace velmora::engine
