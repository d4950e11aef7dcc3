#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/runtime/failure.h"

namespace velmora::engine {

// What the text put into the player's URL stands for.
struct MediaAddress {
    enum class Kind {
        None,     // empty after trimming: stop, no notice
        Network,  // http or https
        File,     // a local file
        Refused,  // not a URL, or a scheme the player does not open
    };
    Kind kind = Kind::None;
    std::string uri;   // the URI handed to the pipeline (Network and File)
    std::string host;  // the host name or address of a Network URI, no port
    bool operator==(const MediaAddress&) const = default;
};

// Reads a URL as a user pastes it: surrounding white space (also no-break and
// ideographic spaces) is ignored; http and https are accepted with any case of
// scheme; a bare dotted host with a path ("example.com/a.mp3") is taken as
// http; an absolute path or a file:// URI names a local file. Characters a URI
// cannot hold (spaces, non-ASCII) are percent-encoded. Everything else,
// including every other scheme, is Refused, so that no text can reach a
// device, descriptor or other non-network source.
MediaAddress readMediaAddress(std::string_view text);

// Why a File address may not be opened: it does not exist (FileNotFound), or
// it is no regular file (UnsupportedAddress: a device or a named pipe would
// feed the pipeline endless or blocking input). Nothing for a usable file.
std::optional<FailureKind> localFileProblem(const MediaAddress& address);

}  // namespace velmora::engine
