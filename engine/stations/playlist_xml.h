#pragma once

// The XML playlists, XSPF and ASX, read as playlists are written rather than
// as the standard wants them: tag names in any case, unquoted attributes, a
// bare '&' kept as it stands. Each reader takes the whole body as UTF-8.

#include <optional>
#include <string>
#include <string_view>

#include "engine/stations/playlist_parser.h"

namespace velmora::engine::playlists {

// The body of an XML document as UTF-8, read in the encoding its byte-order
// mark (UTF-16) or its declaration names; nothing when it names none, or
// when the body is not in the one it names.
std::optional<std::string> declaredXmlText(std::string_view body);

// The name of the first element, in lower case and without a namespace
// prefix; empty when there is none.
std::string rootElement(std::string_view xml);

// XSPF: <track> holds <location> and <title>; xml:base on the playlist or a
// track changes what relative locations resolve against. ASX: <entry> holds
// <ref href> alternatives and a <title>; <entryref href> names another ASX.
Playlist readXml(std::string_view xml, std::string_view baseUri, bool asx);

}  // namespace velmora::engine::playlists
