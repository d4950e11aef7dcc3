#pragma once

#include <string>

namespace velmora::engine {

// Why a media could not be played. The first group blames the address and
// raises the Warning notice (its warning type is the kind's number, its
// parameter the HTTP status or 0, its description the status text); the
// second blames the player and raises MediaError.
enum class FailureKind {
    // The address is at fault.
    UnsupportedAddress = 1,  // not a URL, or a scheme other than http, https, file
    HostNotFound = 2,
    ConnectionRefused = 3,
    TimedOut = 4,
    HttpError = 5,  // the server answered 4xx or 5xx
    NotAudio = 6,   // the content is not an audio stream (an HTML page, garbage)
    TlsFailure = 7,
    TooManyRedirects = 8,
    FileNotFound = 9,
    ReconnectsExhausted = 10,
    ConnectionLost = 11,  // the server went away and reconnecting is not possible
    // The player is at fault.
    NoDecoder = 20,
    NoAudioOutput = 21,
    Internal = 22,
};

struct Failure {
    FailureKind kind = FailureKind::Internal;
    int httpStatus = 0;  // for HttpError
    std::string host;    // for HostNotFound
    bool operator==(const Failure&) const = default;
};

enum class Notice { Warning, MediaError };

Notice noticeFor(FailureKind kind);

// The status line once the failure has settled the player in "stopped".
std::string failureStatusText(const Failure& failure);

}  // namespace velmora::engine
