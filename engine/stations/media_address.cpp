#include "engine/stations/media_address.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "engine/runtime/gst_handles.h"

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

// Percent-encodes what may not stand in a URI (spaces, controls, non-ASCII,
// the characters RFC 3986 leaves out); '%' stays, so that an already encoded
// URL is not encoded twice.
std::string encodeForUri(std::string_view text) {
    const std::string raw(text);
    const GCharPtr encoded(g_uri_escape_string(raw.c_str(), "!$&'()*+,;=:@/?#[]%", FALSE));
    return encoded.get();
}

// The scheme of "scheme:rest", lower-cased, or empty when the text does not
// start with one. "host:8000/..." is a host and a port, not a scheme.
std::string schemeOf(std::string_view text) {
    const std::string raw(text);
    const char* scheme = g_uri_peek_scheme(raw.c_str());  // interned: not ours to free
    if (scheme == nullptr) {
        return {};
    }
    const std::size_t colon = std::strlen(scheme);
    const bool port = colon + 1 < text.size() && g_ascii_isdigit(text[colon + 1]);
    return port ? std::string{} : std::string(scheme);
}

// GLib's reading of an already encoded URI, which must name a server (even an
// empty one, as file:/// does): "scheme:path" is no address the player opens.
struct UriUnref {
    void operator()(GUri* uri) const { g_uri_unref(uri); }
};
using UriPtr = std::unique_ptr<GUri, UriUnref>;

UriPtr parseWithAuthority(const std::string& encoded) {
    UriPtr uri(g_uri_parse(encoded.c_str(), G_URI_FLAGS_ENCODED, nullptr));
    if (uri && g_uri_get_host(uri.get()) == nullptr) {
        uri.reset();
    }
    return uri;
}

MediaAddress refused() { return {MediaAddress::Kind::Refused, {}, {}}; }

MediaAddress network(const std::string& encoded, bool bare) {
    const UriPtr uri = parseWithAuthority(encoded);
    const char* host = uri ? g_uri_get_host(uri.get()) : nullptr;
    if (host == nullptr || *host == '\0') {
        return refused();
    }
    // A bare "host.name/path" must look like one: a dotted host, no user.
    if (bare && (std::strchr(host, '.') == nullptr || g_uri_get_userinfo(uri.get()) != nullptr)) {
        return refused();
    }
    return {MediaAddress::Kind::Network, encoded, host};
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
    if (text.size() > 2 && g_ascii_isalpha(text[0]) && text[1] == ':' &&
        (text[2] == '\\' || text[2] == '/')) {
        std::string path(text);
        std::replace(path.begin(), path.end(), '\\', '/');
        return {MediaAddress::Kind::File, "file:///" + encodeForUri(path), {}};
    }
#endif
    const std::string scheme = schemeOf(text);
    if (scheme == "http" || scheme == "https") {
        // Only the scheme is lower-cased: the rest goes to the server as typed.
        return network(scheme + encodeForUri(text.substr(scheme.size())), false);
    }
    if (scheme == "file") {
        const UriPtr uri = parseWithAuthority(encodeForUri(text));
        const char* host = uri ? g_uri_get_host(uri.get()) : nullptr;
        if (host == nullptr || (*host != '\0' && std::strcmp(host, "localhost") != 0) ||
            std::strlen(g_uri_get_path(uri.get())) < 2) {
            return refused();
        }
        return {MediaAddress::Kind::File, std::string("file://") + g_uri_get_path(uri.get()), {}};
    }
    if (!scheme.empty()) {
        return refused();
    }
    if (text.starts_with('/')) {
        return {MediaAddress::Kind::File, "file://" + encodeForUri(text), {}};
    }
    if (hasWhiteSpace(text)) {
        return refused();
    }
    return network("http://" + encodeForUri(text), true);
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
