#include "engine/stations/playlist_xml.h"

#include <glib.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

#include "engine/stations/playlist_entries.h"
#include "engine/texts/unknown_text.h"

namespace velmora::engine::playlists {
namespace {

// The five named references and numeric ones; anything else, a bare '&'
// included, stays as written.
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

}  // namespace

std::optional<std::string> declaredXmlText(std::string_view body) {
    // Windows writes its ASX files in UTF-16 as often as not.
    if (body.starts_with("\xFF\xFE") || body.starts_with("\xFE\xFF")) {
        return convertStrictly(body.substr(2), body[0] == '\xFF' ? "UTF-16LE" : "UTF-16BE");
    }
    const std::string_view start = trim(body);
    if (!start.starts_with("<?xml")) {
        return std::nullopt;
    }
    const std::string_view declaration = start.substr(0, start.find("?>"));
    const XmlTag tag = readTag(trim(declaration.substr(2)));
    const auto encoding = tag.attributes.find("encoding");
    if (encoding == tag.attributes.end() || encoding->second.empty()) {
        return std::nullopt;
    }
    // A playlist that says UTF-8 and is not is read as one that says nothing.
    return convertStrictly(body, encoding->second.c_str());
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

}  // namespace velmora::engine::playlists
