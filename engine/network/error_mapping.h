#pragma once

#include <gst/gst.h>

#include <optional>
#include <string>

#include "engine/runtime/failure.h"

namespace velmora::engine {

// What is known when a pipeline reports its first ERROR: the error itself and
// what the session saw before it.
struct ErrorFacts {
    enum class Domain { Core, Library, Resource, Stream, Other };
    Domain domain = Domain::Other;
    int code = 0;                  // the code within its GStreamer domain
    bool fromSource = false;       // posted by the source element (souphttpsrc, filesrc)
    bool networkSource = false;    // the media is http or https
    int httpStatus = 0;            // the server's last answer; 0 when none came
    std::string debug;             // GStreamer's debug text, for the log only
    bool contentNotAudio = false;  // a decoder was missing for non-audio content
    bool decoderMissing = false;   // a decoder was missing for audio content
    bool audioOutputMissing = false;
};

struct ErrorVerdict {
    Failure failure;
    // The pipeline cannot tell refused, unknown host, timeout and TLS apart:
    // the failure is only a placeholder until the host has been probed.
    bool needsDiagnosis = false;
    // A new connection may mend it. Whether one is made, and when, is the
    // recovery's policy.
    bool worthRetrying = false;
};

// The one place that turns a GStreamer error into a failure kind, and says
// whether it is worth retrying. Quirks of GStreamer 1.22 with libsoup 3 are
// noted where they are handled.
ErrorVerdict classifyError(const ErrorFacts& facts);

// Fills domain, code, fromSource, audioOutputMissing and debug from an ERROR
// message; the other facts come from the session. The http status is taken
// from the error's details when souphttpsrc put it there.
ErrorFacts readErrorFacts(GstMessage* error);

// What the messages before an error tell; each reader returns nothing for a
// message that is not of its kind.

struct HttpAnswer {
    int status = 0;                 // 0 when the message has none
    std::string redirectedTo;       // empty when not redirected
    std::optional<bool> hasLength;  // false: an endless stream (ICY, or no length)
    std::string stationName;        // a radio station's icy-name, cleaned
    bool station = false;           // an ICY station's answer, named or not
};
// souphttpsrc's "http-headers" element message.
std::optional<HttpAnswer> readHttpAnswer(GstMessage* element);

// decodebin's missing-plugin message, by the caps it names: true when a
// decoder for audio is missing, false when the content is not audio at all.
std::optional<bool> readMissingDecoder(GstMessage* element);

// A TAG message's stream title, cleaned for the status line; nothing when it
// carries none worth showing.
std::optional<std::string> readStreamTitle(GstMessage* tags);

}  // namespace velmora::engine
