#include "engine/stations/playlist_entries.h"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <utility>

#include "engine/runtime/gst_handles.h"
#include "engine/texts/stream_title.h"

namespace velmora::engine::playlists {
namespace {

// In the line-based formats an entry is a file-system path unless it carries
// a scheme: an absolute path or a drive letter names a file on the machine
// that wrote the list, never something on the server.
bool isLocalPath(std::string_view entry) {
    return entry.starts_with('/') || entry.starts_with('\\') ||
           (entry.size() >= 2 && std::isalpha(static_cast<unsigned char>(entry[0])) &&
            entry[1] == ':' && (entry.size() == 2 || entry[2] == '\\' || entry[2] == '/'));
}

}  // namespace

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && lower(text.substr(0, prefix.size())) == prefix;
}

std::string_view trim(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n";
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        out.push_back(trim(text.substr(0, end)));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return out;
}

std::optional<std::string> resolve(std::string_view reference, const std::string& base,
                                   bool pathsAreLocal) {
    if (reference.empty() || (pathsAreLocal && isLocalPath(reference))) {
        return std::nullopt;
    }
    const std::string owned(reference);
    GCharPtr resolved(g_uri_resolve_relative(base.empty() ? nullptr : base.c_str(), owned.c_str(),
                                             G_URI_FLAGS_PARSE_RELAXED, nullptr));
    if (!resolved) {
        return std::nullopt;
    }
    GCharPtr scheme(g_uri_parse_scheme(resolved.get()));
    if (!scheme || (g_ascii_strcasecmp(scheme.get(), "http") != 0 &&
                    g_ascii_strcasecmp(scheme.get(), "https") != 0)) {
        return std::nullopt;
    }
    return std::string(resolved.get());
}

Playlist stations(const std::vector<RawEntry>& raw, std::string_view baseUri, bool pathsAreLocal,
                  std::string_view playlistTitle) {
    Playlist playlist;
    playlist.kind = Playlist::Kind::Stations;
    std::set<std::string> seen;
    const std::string fallbackTitle = streamTitleText(playlistTitle);
    for (const RawEntry& entry : raw) {
        if (trim(entry.reference).empty()) {
            continue;  // an XSPF track may name no location at all
        }
        const auto uri =
            resolve(trim(entry.reference), entry.base.empty() ? std::string(baseUri) : entry.base,
                    pathsAreLocal);
        if (!uri) {
            ++playlist.refusedEntries;
        } else if (seen.insert(*uri).second) {
            std::string title = streamTitleText(entry.title);
            playlist.entries.push_back({*uri, title.empty() ? fallbackTitle : std::move(title)});
        }
    }
    return playlist;
}

}  // namespace velmora::engine::playlists
