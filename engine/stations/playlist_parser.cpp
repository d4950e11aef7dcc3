#include "engine/stations/playlist_parser.h"

#include <glib.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "engine/runtime/gst_handles.h"
#include "engine/texts/stream_title.h"

namespace velmora::engine {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kPlaylistExtensions[] = {".pls", ".m3u", ".xspf",
                                                    ".asx", ".wax", ".wvx"};

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

// Playlists written on Windows are often Latin-1; anything that is not UTF-8
// is read as that.
std::string asUtf8(std::string_view body) {
    if (g_utf8_validate(body.data(), static_cast<gssize>(body.size()), nullptr)) {
        return std::string(body);
    }
    gsize written = 0;
    GCharPtr converted(g_convert(body.data(), static_cast<gssize>(body.size()), "UTF-8",
                                 "ISO-8859-1", nullptr, &written, nullptr));
    return converted ? std::string(converted.get(), written) : std::string();
}

// ---- entries to addresses ------------------------------------------------------

// In the line-based formats an entry is a file-system path unless it carries
// a scheme: an absolute path or a drive letter names a file on the machine
// that wrote the list, never something on the server.
bool isLocalPath(std::string_view entry) {
    return entry.starts_with('/') || entry.starts_with('\\') ||
           (entry.size() >= 2 && std::isalpha(static_cast<unsigned char>(entry[0])) &&
            entry[1] == ':' && (entry.size() == 2 || entry[2] == '\\' || entry[2] == '/'));
}

std::optional<std::string> resolve(std::string_view entry, const std::string& base,
                                   bool pathsAreLocal) {
    if (entry.empty() || (pathsAreLocal && isLocalPath(entry))) {
        return std::nullopt;
    }
    const std::string reference(entry);
    GCharPtr resolved(g_uri_resolve_relative(base.empty() ? nullptr : base.c_str(),
                                             reference.c_str(), G_URI_FLAGS_PARSE_RELAXED,
                                             nullptr));
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

struct RawEntry {
    std::string reference;
    std::string title;
    std::string base;  // empty: the playlist's own address
};

Playlist stations(const std::vector<RawEntry>& raw, std::string_view baseUri, bool pathsAreLocal,
                  std::string_view playlistTitle = {}) {
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

// ---- line-based formats ------------------------------------------------------------

// PLS and ASX-INI: "key=value" lines, numbered keys, any letter case. The
// entry count a PLS states is often wrong, so the numbers alone decide.
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

// M3U, extended M3U and text/uri-list: one entry a line, '#' starts a
// comment, "#EXTINF:length,title" names the entry after it.
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

// A list with no header is taken as one only when every entry could be an
// address: a word of text or a binary body is not a playlist.
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

// ---- XML formats ----------------------------------------------------------------------

// XML as playlists are written, not as the standard wants it: tag names in
// any case, unquoted attributes, and a bare '&' kept as it stands.
std::string decodeEntities(std::string_view text) {
    static const std::map<std::string_view, std::string_view> kNamed = {
        {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}};
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t end = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
        if (end == std::string_view::npos || end - i > 10) {
            out += text[i];
            continue;
        }
        const std::string name = lower(text.substr(i + 1, end - i - 1));
        if (const auto named = kNamed.find(name); named != kNamed.end()) {
            out += named->second;
        } else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            char* stop = nullptr;
            const unsigned long codePoint =
                std::strtoul(name.c_str() + (hex ? 2 : 1), &stop, hex ? 16 : 10);
            if (*stop != '\0' || !g_unichar_validate(static_cast<gunichar>(codePoint))) {
                out += text[i];
                continue;
            }
            char utf8[8] = {};
            out.append(utf8, static_cast<std::size_t>(
                                 g_unichar_to_utf8(static_cast<gunichar>(codePoint), utf8)));
        } else {
            out += text[i];
            continue;
        }
        i = end;
    }
    return out;
}

struct XmlTag {
    std::string name;  // lower case, namespace prefix dropped
    bool closing = false;
    bool empty = false;                             // <tag/>
    std::map<std::string, std::string> attributes;  // names in lower case
};

XmlTag readTag(std::string_view inside) {
    XmlTag tag;
    if (inside.starts_with('/')) {
        tag.closing = true;
        inside.remove_prefix(1);
    }
    if (inside.ends_with('/')) {
        tag.empty = true;
        inside.remove_suffix(1);
    }
    constexpr std::string_view kSpace = " \t\r\n";
    std::size_t i = std::min(inside.find_first_of(kSpace), inside.size());
    tag.name = lower(inside.substr(0, i));
    if (const std::size_t colon = tag.name.rfind(':'); colon != std::string::npos) {
        tag.name.erase(0, colon + 1);
    }
    while (i < inside.size()) {
        i = inside.find_first_not_of(kSpace, i);
        if (i == std::string_view::npos) {
            break;
        }
        const std::size_t nameEnd = std::min(inside.find_first_of("= \t\r\n", i), inside.size());
        const std::string name = lower(inside.substr(i, nameEnd - i));
        i = inside.find_first_not_of(kSpace, nameEnd);
        std::string_view value;
        if (i != std::string_view::npos && inside[i] == '=') {
            i = inside.find_first_not_of(kSpace, i + 1);
            if (i == std::string_view::npos) {
                break;
            }
            const char quote = inside[i];
            const bool quoted = quote == '"' || quote == '\'';
            const std::size_t start = quoted ? i + 1 : i;
            const std::size_t end =
                std::min(quoted ? inside.find(quote, start) : inside.find_first_of(kSpace, start),
                         inside.size());
            value = inside.substr(start, end - start);
            i = end + (quoted ? 1 : 0);
        }
        tag.attributes[name] = decodeEntities(value);
    }
    return tag;
}

// Walks the elements in order: onTag for every start and end tag, until it
// returns false, onText for the text (CDATA included) between them.
template <typename OnTag, typename OnText>
void walkXml(std::string_view xml, OnTag onTag, OnText onText) {
    std::size_t i = 0;
    while (i < xml.size()) {
        if (xml[i] != '<') {
            const std::size_t next = std::min(xml.find('<', i), xml.size());
            onText(decodeEntities(xml.substr(i, next - i)));
            i = next;
            continue;
        }
        const std::string_view rest = xml.substr(i);
        const auto skipPast = [&](std::string_view end) {
            const std::size_t at = rest.find(end);
            return at == std::string_view::npos ? xml.size() : i + at + end.size();
        };
        if (rest.starts_with("<!--")) {
            i = skipPast("-->");
        } else if (rest.starts_with("<![CDATA[")) {
            const std::size_t end = skipPast("]]>");
            onText(std::string(xml.substr(i + 9, std::max(end, i + 12) - i - 12)));
            i = end;
        } else if (rest.starts_with("<?") || rest.starts_with("<!")) {
            i = skipPast(">");
        } else {
            std::size_t end = 1;
            for (char quote = 0; end < rest.size() && (quote != 0 || rest[end] != '>'); ++end) {
                if (rest[end] == '"' || rest[end] == '\'') {
                    quote = quote == rest[end] ? 0 : (quote == 0 ? rest[end] : quote);
                }
            }
            if (!onTag(readTag(trim(rest.substr(1, end - 1))))) {
                return;
            }
            i += end + 1;
        }
    }
}

std::string rootElement(std::string_view xml) {
    std::string root;
    walkXml(
        xml,
        [&](const XmlTag& tag) {
            if (!tag.closing) {
                root = tag.name;
            }
            return root.empty();  // the rest is not needed
        },
        [](const std::string&) {});
    return root;
}

// XSPF: <track> holds <location> and <title>; xml:base on the playlist or a
// track changes what relative locations resolve against. ASX: <entry> holds
// <ref href> alternatives and a <title>; <entryref href> names another ASX.
Playlist readXml(std::string_view xml, std::string_view baseUri, bool asx) {
    std::vector<RawEntry> raw;
    std::string base(baseUri);
    std::string playlistTitle;
    std::optional<RawEntry> entry;  // the track or entry being read
    std::vector<std::string> refs;  // ASX: the entry's alternatives, in order
    std::string* capture = nullptr;
    const std::string entryName = asx ? "entry" : "track";
    const auto closeEntry = [&] {
        if (asx) {
            for (std::string& ref : refs) {
                raw.push_back({std::move(ref), entry->title, entry->base});
            }
            refs.clear();
        } else {
            raw.push_back(std::move(*entry));
        }
        entry.reset();
    };
    walkXml(
        xml,
        [&](const XmlTag& tag) {
            capture = nullptr;
            if (tag.closing) {
                if (tag.name == entryName && entry) {
                    closeEntry();
                }
                return true;
            }
            std::string tagBase = base;
            if (const auto xmlBase = tag.attributes.find("xml:base");
                !asx && xmlBase != tag.attributes.end()) {
                tagBase = resolve(xmlBase->second, base, false).value_or(base);
            }
            const auto href = tag.attributes.find("href");
            if (tag.name == entryName) {
                if (entry) {
                    closeEntry();
                }
                entry = RawEntry{{}, {}, tagBase};
                if (tag.empty) {
                    closeEntry();
                }
            } else if (asx && tag.name == "ref" && href != tag.attributes.end()) {
                if (entry) {
                    refs.push_back(href->second);
                } else {
                    raw.push_back({href->second, {}, base});
                }
            } else if (asx && tag.name == "entryref" && href != tag.attributes.end()) {
                raw.push_back({href->second, {}, base});
            } else if (tag.name == "title" && !tag.empty) {
                capture = entry ? &entry->title : &playlistTitle;
            } else if (!asx && tag.name == "location" && !tag.empty && entry &&
                       entry->reference.empty()) {
                capture = &entry->reference;
            } else if (!entry) {
                base = tagBase;
            }
            return true;
        },
        [&](const std::string& text) {
            if (capture != nullptr) {
                *capture += text;
            }
        });
    if (entry) {
        closeEntry();
    }
    return stations(raw, baseUri, false, playlistTitle);
}

}  // namespace

Playlist parsePlaylist(std::string_view body, std::string_view baseUri) {
    if (body.starts_with(kUtf8Bom)) {
        body.remove_prefix(kUtf8Bom.size());
    }
    const std::string utf8 = asUtf8(body);
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
    if (isHls(text)) {
        return {Playlist::Kind::Hls, {}, 0};
    }
    const std::vector<RawEntry> raw = readLines(text);
    if (!startsWithNoCase(text, "#extm3u") && !couldBeAddresses(raw)) {
        return {};
    }
    return stations(raw, baseUri, true);
}

bool looksLikePlaylistAddress(std::string_view uri) {
    const std::size_t end = std::min(uri.find_first_of("?#"), uri.size());
    const std::string path = lower(uri.substr(0, end));
    return std::any_of(std::begin(kPlaylistExtensions), std::end(kPlaylistExtensions),
                       [&](std::string_view extension) { return path.ends_with(extension); });
}

}  // namespace velmora::engine
