#pragma once

// What the playlist readers share: text as playlists write it, and the entries
// they find turned into stations. Only the readers include this.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/stations/playlist_parser.h"

namespace velmora::engine::playlists {

// ASCII only: playlist keywords and tag names are ASCII, titles are left alone.
std::string lower(std::string_view text);
bool startsWithNoCase(std::string_view text, std::string_view prefix);
// Without surrounding spaces, tabs and line breaks.
std::string_view trim(std::string_view text);
// Each line trimmed; CR, LF and CRLF all end one.
std::vector<std::string_view> lines(std::string_view text);

// An entry as its playlist writes it.
struct RawEntry {
    std::string reference;
    std::string title;
    std::string base;  // empty: the playlist's own address
};

// The absolute http or https address a reference names, resolved against
// base; nothing for any other scheme, and, when pathsAreLocal, for a
// file-system path (absolute or with a drive letter).
std::optional<std::string> resolve(std::string_view reference, const std::string& base,
                                   bool pathsAreLocal);

// The stations the entries name, in order, duplicates dropped; a title is
// cleaned for the status line and falls back to the playlist's own title.
Playlist stations(const std::vector<RawEntry>& raw, std::string_view baseUri, bool pathsAreLocal,
                  std::string_view playlistTitle = {});

}  // namespace velmora::engine::playlists
