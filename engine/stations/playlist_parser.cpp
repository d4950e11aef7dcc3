#include "engine/stations/playlist_parser.h"

#include <algorithm>
#include <string>

#include "engine/stations/playlist_entries.h"
#include "engine/stations/playlist_lines.h"
#include "engine/stations/playlist_xml.h"
#include "engine/texts/unknown_text.h"

namespace velmora::engine {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kPlaylistExtensions[] = {".pls", ".m3u", ".xspf",
                                                    ".asx", ".wax", ".wvx"};

}  // namespace

Playlist parsePlaylist(std::string_view body, std::string_view baseUri) {
    using namespace playlists;
    if (body.starts_with(kUtf8Bom)) {
        body.remove_prefix(kUtf8Bom.size());
    }
    // Playlists written on Windows are in the writer's code page, named
    // nowhere, unless an XML one names it.
    const std::string utf8 = declaredXmlText(body).value_or(decodeUnknownText(body));
    const std::string_view text = trim(utf8);
    if (startsWithNoCase(text, "[playlist]")) {
        return readNumberedKeys(text, baseUri, "file");
    }
    if (startsWithNoCase(text, "[reference]")) {
        return readNumberedKeys(text, baseUri, "ref");
    }
    if (text.starts_with('<')) {
        const std::string root = rootElement(text);
        if (root == "asx" || root == "playlist") {
            return readXml(text, baseUri, root == "asx");
        }
        return {};
    }
    return readLineList(text, baseUri);
}

bool looksLikePlaylistAddress(std::string_view uri) {
    const std::size_t end = std::min(uri.find_first_of("?#"), uri.size());
    const std::string path = playlists::lower(uri.substr(0, end));
    return std::any_of(std::begin(kPlaylistExtensions), std::end(kPlaylistExtensions),
                       [&](std::string_view extension) { return path.ends_with(extension); });
}

}  // namespace velmora::engine
