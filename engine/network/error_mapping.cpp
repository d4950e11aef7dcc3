#include "engine/network/error_mapping.h"

#include <gst/pbutils/pbutils.h>

#include <cstring>

#include "engine/runtime/gst_handles.h"
#include "engine/texts/stream_title.h"

namespace velmora::engine {

namespace {

ErrorVerdict classify(const ErrorFacts& facts) {
    using Domain = ErrorFacts::Domain;
    auto plain = [](FailureKind kind) { return ErrorVerdict{Failure{kind, 0, {}}, false}; };

    if (facts.audioOutputMissing) {
        return plain(FailureKind::NoAudioOutput);
    }
    // Code 3 of the resource domain means both "invalid URI" and HTTP 404: the
    // status code, from the details or the http-headers message, decides.
    if (facts.networkSource && facts.httpStatus >= 400) {
        return {Failure{FailureKind::HttpError, facts.httpStatus, {}}, false};
    }
    // libsoup follows redirects itself (up to 20); a redirect that reaches
    // us is one too many.
    if (facts.networkSource && facts.httpStatus >= 300) {
        return plain(FailureKind::TooManyRedirects);
    }
    // An HTML page first warns "No decoder available for type 'text/html'",
    // then fails with a missing plugin: the address is at fault.
    if (facts.contentNotAudio) {
        return plain(FailureKind::NotAudio);
    }
    if (facts.decoderMissing) {
        return plain(FailureKind::NoDecoder);
    }
    switch (facts.domain) {
        case Domain::Resource:
            if (facts.code == GST_RESOURCE_ERROR_NOT_FOUND) {
                if (!facts.networkSource) {
                    return plain(FailureKind::FileNotFound);
                }
                return plain(facts.fromSource ? FailureKind::UnsupportedAddress
                                              : FailureKind::Internal);
            }
            if (facts.code == GST_RESOURCE_ERROR_NOT_AUTHORIZED) {
                return {
                    Failure{
                        FailureKind::HttpError, facts.httpStatus > 0 ? facts.httpStatus : 401, {}},
                    false};
            }
            if (facts.code == GST_RESOURCE_ERROR_SEEK && facts.networkSource) {
                // A server that drops mid-file and ignores Range: souphttpsrc
                // cannot resume ("Server does not support seeking").
                return plain(FailureKind::ConnectionLost);
            }
            if (facts.networkSource && facts.fromSource) {
                return {Failure{FailureKind::ConnectionLost, 0, {}}, facts.httpStatus == 0};
            }
            if (!facts.networkSource && facts.fromSource) {
                return plain(FailureKind::FileNotFound);
            }
            return plain(FailureKind::Internal);
        case Domain::Stream:
            // Refused, unknown host, bad certificate and connect timeout all
            // arrive as "Internal data stream error" from the source.
            if (facts.fromSource && facts.networkSource) {
                return {Failure{FailureKind::ConnectionLost, 0, {}}, facts.httpStatus == 0};
            }
            switch (facts.code) {
                case GST_STREAM_ERROR_TYPE_NOT_FOUND:
                case GST_STREAM_ERROR_WRONG_TYPE:
                case GST_STREAM_ERROR_DECODE:
                case GST_STREAM_ERROR_DEMUX:
                case GST_STREAM_ERROR_FORMAT:
                    return plain(FailureKind::NotAudio);
                case GST_STREAM_ERROR_CODEC_NOT_FOUND:
                    return plain(FailureKind::NoDecoder);
                default:
                    return plain(FailureKind::Internal);
            }
        case Domain::Core:
            if (facts.code == GST_CORE_ERROR_MISSING_PLUGIN) {
                return plain(FailureKind::NoDecoder);
            }
            return plain(FailureKind::Internal);
        case Domain::Library:
        case Domain::Other:
            return plain(FailureKind::Internal);
    }
    return plain(FailureKind::Internal);
}

// The network's failures, and a station's: one whose source restarts answers
// "not found" (Icecast: a mount with no source) or "unavailable" for a while.
bool worthRetrying(const ErrorFacts& facts, const ErrorVerdict& verdict) {
    const FailureKind kind = verdict.failure.kind;
    const int status = verdict.failure.httpStatus;
    return facts.networkSource &&
           (verdict.needsDiagnosis || kind == FailureKind::ConnectionLost ||
            kind == FailureKind::TimedOut ||
            (kind == FailureKind::HttpError && (status == 404 || status >= 500)));
}

}  // namespace

ErrorVerdict classifyError(const ErrorFacts& facts) {
    ErrorVerdict verdict = classify(facts);
    verdict.worthRetrying = worthRetrying(facts, verdict);
    return verdict;
}

ErrorFacts readErrorFacts(GstMessage* error) {
    ErrorFacts facts;
    GError* rawError = nullptr;
    gchar* rawDebug = nullptr;
    gst_message_parse_error(error, &rawError, &rawDebug);
    ErrorPtr gerror(rawError);
    GCharPtr debug(rawDebug);
    if (gerror) {
        facts.code = gerror->code;
        if (gerror->domain == GST_CORE_ERROR) {
            facts.domain = ErrorFacts::Domain::Core;
        } else if (gerror->domain == GST_LIBRARY_ERROR) {
            facts.domain = ErrorFacts::Domain::Library;
        } else if (gerror->domain == GST_RESOURCE_ERROR) {
            facts.domain = ErrorFacts::Domain::Resource;
        } else if (gerror->domain == GST_STREAM_ERROR) {
            facts.domain = ErrorFacts::Domain::Stream;
        }
        facts.debug = gerror->message;
    }
    if (debug) {
        facts.debug += " | ";
        facts.debug += debug.get();
    }
    // Bins take the source flag of their children: only a plain element counts.
    GstObject* poster = GST_MESSAGE_SRC(error);
    facts.fromSource = poster != nullptr && GST_IS_ELEMENT(poster) && !GST_IS_BIN(poster) &&
                       GST_OBJECT_FLAG_IS_SET(poster, GST_ELEMENT_FLAG_SOURCE);
    // A sink that cannot open its device: no sound server, no sound card.
    facts.audioOutputMissing = facts.domain == ErrorFacts::Domain::Resource && poster != nullptr &&
                               GST_IS_ELEMENT(poster) && !GST_IS_BIN(poster) &&
                               GST_OBJECT_FLAG_IS_SET(poster, GST_ELEMENT_FLAG_SINK);
    const GstStructure* details = nullptr;
    gst_message_parse_error_details(error, &details);
    guint status = 0;
    if (details != nullptr && gst_structure_get_uint(details, "http-status-code", &status)) {
        facts.httpStatus = static_cast<int>(status);
    }
    return facts;
}

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool startsWith(const char* text, const char* prefix) {
    return text != nullptr && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

std::string headerValue(const GstStructure* headers, const char* name) {
    if (headers == nullptr) {
        return {};
    }
    for (int i = 0; i < gst_structure_n_fields(headers); ++i) {
        const char* field = gst_structure_nth_field_name(headers, i);
        if (g_ascii_strcasecmp(field, name) == 0) {
            const GValue* value = gst_structure_get_value(headers, field);
            if (G_VALUE_HOLDS_STRING(value)) {
                return g_value_get_string(value);
            }
            return "?";
        }
    }
    return {};
}

}  // namespace

std::optional<HttpAnswer> readHttpAnswer(GstMessage* element) {
    const GstStructure* structure = gst_message_get_structure(element);
    if (structure == nullptr || !gst_structure_has_name(structure, "http-headers")) {
        return std::nullopt;
    }
    HttpAnswer answer;
    if (const char* target = gst_structure_get_string(structure, "redirection-uri")) {
        answer.redirectedTo = target;
    }
    guint status = 0;
    if (gst_structure_get_uint(structure, "http-status-code", &status)) {
        answer.status = static_cast<int>(status);
    }
    const GValue* headers = gst_structure_get_value(structure, "response-headers");
    if (headers != nullptr && GST_VALUE_HOLDS_STRUCTURE(headers)) {
        const GstStructure* response = gst_value_get_structure(headers);
        const std::string icyName = headerValue(response, "icy-name");
        const bool icy = !headerValue(response, "icy-metaint").empty() || !icyName.empty() ||
                         !headerValue(response, "icy-br").empty() ||
                         !headerValue(response, "icy-pub").empty();
        answer.hasLength = !icy && !headerValue(response, "Content-Length").empty();
        answer.station = icy;
        // A name that is not UTF-8 never reaches us whole: libsoup 3 stands
        // U+FFFD in for its bytes, and souphttpsrc leaves such a header out of
        // this message and of its tags. No other path sees the bytes; the
        // player names the station by its playlist or its address instead.
        if (icyName.find(kReplacementCharacter) == std::string::npos) {
            answer.stationName = streamTitleText(icyName);
        }
    }
    return answer;
}

std::optional<bool> readMissingDecoder(GstMessage* element) {
    if (!gst_is_missing_plugin_message(element)) {
        return std::nullopt;
    }
    // decodebin's warning says the same in words, in the user's language:
    // only the caps are read.
    const GValue* detail = gst_structure_get_value(gst_message_get_structure(element), "detail");
    if (detail == nullptr || !GST_VALUE_HOLDS_CAPS(detail)) {
        return false;
    }
    const GstCaps* caps = gst_value_get_caps(detail);
    return gst_caps_get_size(caps) > 0 &&
           startsWith(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/");
}

std::optional<std::string> readStreamTitle(GstMessage* tags) {
    GstTagList* rawTags = nullptr;
    gst_message_parse_tag(tags, &rawTags);
    TagListPtr list(rawTags);
    gchar* rawTitle = nullptr;
    if (!gst_tag_list_get_string(list.get(), GST_TAG_TITLE, &rawTitle)) {
        return std::nullopt;
    }
    GCharPtr title(rawTitle);
    // An Ogg or FLAC song names its artist apart; an ICY title has it in the title already.
    gchar* rawArtist = nullptr;
    if (gst_tag_list_get_string(list.get(), GST_TAG_ARTIST, &rawArtist)) {
        GCharPtr artist(rawArtist);
        if (*artist != '\0') {
            title.reset(g_strconcat(artist.get(), " - ", title.get(), nullptr));
        }
    }
    std::string text = streamTitleText(title.get());
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}

}  // namespace velmora::engine
