#include "engine/stations/playlist_lines.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/stations/playlist_entries.h"

namespace velmora::engine::playlists {
namespace {

// "#EXTINF:length,title" names the entry after it; '#' starts a comment.
std::vector<RawEntry> readLines(std::string_view text) {
    std::vector<RawEntry> raw;
    std::string title;
    for (const std::string_view line : lines(text)) {
        if (startsWithNoCase(line, "#extinf:")) {
            const std::size_t comma = line.find(',');
            title = comma == std::string_view::npos ? "" : std::string(line.substr(comma + 1));
        } else if (!line.empty() && line[0] != '#') {
            raw.push_back({std::string(line), std::exchange(title, {}), {}});
        }
    }
    return raw;
}

// A word of text or a binary body is not a list of addresses.
bool couldBeAddresses(const std::vector<RawEntry>& raw) {
    return !raw.empty() && std::all_of(raw.begin(), raw.end(), [](const RawEntry& entry) {
        const std::string& text = entry.reference;
        return text.find_first_of("./") != std::string::npos &&
               std::none_of(text.begin(), text.end(), [](unsigned char c) {
                   return c <= ' ' || c == 0x7F || c == '<' || c == '>';
               });
    });
}

bool isHls(std::string_view text) {
    if (!startsWithNoCase(text, "#extm3u")) {
        return false;
    }
    const auto all = lines(text);
    return std::any_of(all.begin(), all.end(),
                       [](std::string_view line) { return startsWithNoCase(line, "#ext-x-"); });
}

}  // namespace

// Keys in any letter case. The entry count a PLS states is often wrong, so
// the numbers alone decide.
Playlist readNumberedKeys(std::string_view text, std::string_view baseUri,
                          std::string_view entryKey) {
    std::map<long, RawEntry> numbered;
    for (const std::string_view line : lines(text)) {
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string key = lower(trim(line.substr(0, equals)));
        const std::string_view value = trim(line.substr(equals + 1));
        for (const std::string_view field : {entryKey, std::string_view("title")}) {
            if (!key.starts_with(field) || key.size() == field.size() ||
                !std::all_of(key.begin() + static_cast<long>(field.size()), key.end(),
                             [](unsigned char c) { return std::isdigit(c); })) {
                continue;
            }
            const long number = std::strtol(key.c_str() + field.size(), nullptr, 10);
            (field == entryKey ? numbered[number].reference : numbered[number].title) = value;
        }
    }
    std::vector<RawEntry> raw;
    for (auto& [number, entry] : numbered) {
        if (!entry.reference.empty()) {
            raw.push_back(std::move(entry));
        }
    }
    return stations(raw, baseUri, true);
}

Playlist readLineList(std::string_view text, std::string_view baseUri) {
    if (isHls(text)) {
        return {Playlist::Kind::Hls, {}, 0};
    }
    const std::vector<RawEntry> raw = readLines(text);
    if (!startsWithNoCase(text, "#extm3u") && !couldBeAddresses(raw)) {
        return {};
    }
    return stations(raw, baseUri, true);
}

}  // namespace velmora::engine::playlists
