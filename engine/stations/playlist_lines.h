#pragma once

// The line-based playlists: PLS, ASX-INI, M3U and text/uri-list. Each reader
// takes the whole body as UTF-8, trimmed.

#include <string_view>

#include "engine/stations/playlist_parser.h"

namespace velmora::engine::playlists {

// PLS ("file" entries) and ASX-INI ("ref" entries): numbered "key=value"
// lines under a section header.
Playlist readNumberedKeys(std::string_view text, std::string_view baseUri,
                          std::string_view entryKey);

// M3U, extended M3U and text/uri-list; HLS when the M3U names segments. A
// list without an #EXTM3U header is one only when every entry could be an
// address, otherwise the body is no playlist.
Playlist readLineList(std::string_view text, std::string_view baseUri);

}  // namespace velmora::engine::playlists
