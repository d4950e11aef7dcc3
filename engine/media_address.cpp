#include "media_address.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace velmora::engine {
namespace {

// White space a copy from a web page or chat may carry around a URL, as UTF-8.
constexpr std::array<std::string_view, 10> kTrimmed = {
    " ",
    "\t",
    "\r",
    "\n",
    "\v",
    "\f",
    "\xC2\xA0",      // no-break space
    "\xE3\x80\x80",  // ideographic space
    "\xE2\x80\x8B",  // zero-width space
    "\xEF\xBB\xBF",  // byte-order mark
};

std::string_view trim(std::string_view text) {
    bool changed = true;
    while (changed && !text.empty()) {
        changed = false;
        for (std::string_view blank : kTrimmed) {
            if (text.starts_with(blank)) {
                text.remove_prefix(blank.size());
                changed = true;
            }
            if (text.ends_with(blank)) {
                text.remove_suffix(blank.size());
                changed = true;
            }
        }
    }
    return text;
}

bool isAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// The scheme of "scheme:rest", or empty when the text does not start with one.
std::string_view schemeOf(std::string_view text) {
    if (text.empty() || !isAsciiAlpha(text[0])) {
        return {};
    }
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':') {
            // "host:8000/..." is a host and a port, not a scheme.
            const bool port = i + 1 < text.size() && isAsciiDigit(text[i + 1]);
            return port ? std::string_view{} : text.substr(0, i);
        }
        if (!isAsciiAlpha(c) && !isAsciiDigit(c) && c != '+' && c != '-' && c != '.') {
            return {};
        }
    }
    return {};
}

// Percent-encodes what may not stand in a URI; '%' stays, so that an already
// encoded URL is not encoded twice.
std::string encodeForUri(std::string_view text) {
    static constexpr std::string_view kUnsafe = "\"<>\\^`{|}";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || kUnsafe.find(c) != std::string_view::npos) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

bool isHostChar(char c) {
    return isAsciiAlpha(c) || isAsciiDigit(c) || c == '-' || c == '.' || c == '_';
}

// The host of an authority "user@host:port", or empty when it is not one.
std::string hostOfAuthority(std::string_view authority) {
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    if (authority.starts_with('[')) {  // IPv6 literal
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos || close == 1) {
            return {};
        }
        return std::string(authority.substr(1, close - 1));
    }
    std::string_view host = authority.substr(0, authority.find(':'));
    if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
        const std::string_view port = authority.substr(colon + 1);
        if (!std::all_of(port.begin(), port.end(), isAsciiDigit)) {
            return {};
        }
    }
    if (host.empty() || host.front() == '.' || host.back() == '.' ||
        !std::all_of(host.begin(), host.end(), isHostChar)) {
        return {};
    }
    return std::string(host);
}

std::string_view authorityOf(std::string_view afterSlashes) {
    return afterSlashes.substr(0, afterSlashes.find_first_of("/?#"));
}

MediaAddress refused() { return {MediaAddress::Kind::Refused, {}, {}}; }

MediaAddress network(std::string_view scheme, std::string_view afterSlashes) {
    const std::string host = hostOfAuthority(authorityOf(afterSlashes));
    if (host.empty()) {
        return refused();
    }
    return {MediaAddress::Kind::Network, std::string(scheme) + "://" + encodeForUri(afterSlashes),
            host};
}

bool hasWhiteSpace(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](unsigned char c) { return c <= 0x20 || c == 0x7F; });
}

}  // namespace

MediaAddress readMediaAddress(std::string_view text) {
    text = trim(text);
    if (text.empty()) {
        return {};
    }
#ifdef _WIN32
    if (text.size() > 2 && isAsciiAlpha(text[0]) && text[1] == ':' &&
        (text[2] == '\\' || text[2] == '/')) {
        std::string path(text);
        std::replace(path.begin(), path.end(), '\\', '/');
        return {MediaAddress::Kind::File, "file:///" + encodeForUri(path), {}};
    }
#endif
    const std::string scheme = lower(schemeOf(text));
    if (!scheme.empty()) {
        std::string_view rest = text.substr(scheme.size() + 1);
        if (!rest.starts_with("//")) {
            return refused();
        }
        rest.remove_prefix(2);
        if (scheme == "http" || scheme == "https") {
            return network(scheme, rest);
        }
        if (scheme == "file") {
            if (rest.starts_with("localhost/")) {
                rest.remove_prefix(std::string_view("localhost").size());
            }
            if (!rest.starts_with('/') || rest.size() < 2) {
                return refused();
            }
            return {MediaAddress::Kind::File, "file://" + encodeForUri(rest), {}};
        }
        return refused();
    }
    if (text.starts_with('/')) {
        return {MediaAddress::Kind::File, "file://" + encodeForUri(text), {}};
    }
    // A bare "host.name/path": a dotted host, nothing that makes it prose.
    const std::string_view authority = authorityOf(text);
    if (hasWhiteSpace(text) || authority.find('.') == std::string_view::npos ||
        authority.find('@') != std::string_view::npos) {
        return refused();
    }
    return network("http", text);
}

std::optional<FailureKind> localFileProblem(const MediaAddress& address) {
    gchar* path = g_filename_from_uri(address.uri.c_str(), nullptr, nullptr);
    if (path == nullptr) {
        return FailureKind::UnsupportedAddress;
    }
    GStatBuf status;
    const int result = g_stat(path, &status);
    g_free(path);
    if (result != 0) {
        return FailureKind::FileNotFound;
    }
    if (!S_ISREG(status.st_mode)) {
        return FailureKind::UnsupportedAddress;
    }
    return std::nullopt;
}

}  // namespace velmora::engine
