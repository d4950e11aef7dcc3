#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora::engine {

// One station a playlist names: an absolute http or https URI, and the title
// the playlist gives it (plain text for the status line; empty when none).
struct PlaylistEntry {
    std::string uri;
    std::string title;
    bool operator==(const PlaylistEntry&) const = default;
};

// What a body turned out to be, judged by its content alone.
struct Playlist {
    enum class Kind {
        NotPlaylist,  // anything else: audio, a web page, garbage, an empty body
        Hls,          // a media playlist of segments: the pipeline plays its URI itself
        Stations,     // PLS, M3U, XSPF, ASX, ASX-INI or text/uri-list
    };
    Kind kind = Kind::NotPlaylist;
    // Stations only, in the playlist's order, duplicates dropped.
    std::vector<PlaylistEntry> entries;
    // Entries left out because they name no http or https address (local
    // paths, devices, file:, fd:, other schemes).
    int refusedEntries = 0;
};

// Reads a playlist body fetched from baseUri, the address it finally came
// from after redirects. Relative entries resolve against it (or against an
// XSPF xml:base). Never opens or fetches anything.
Playlist parsePlaylist(std::string_view body, std::string_view baseUri);

// Whether the address ends in a playlist's file name extension (.pls, .m3u,
// .xspf, .asx, ...), query and fragment ignored. HLS's .m3u8 is not one: the
// pipeline plays it, and reports a list of stations as content it cannot play.
bool looksLikePlaylistAddress(std::string_view uri);

}  // namespace velmora::engine
