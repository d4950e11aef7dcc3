// What the pipeline's bus says, turned into the player's state: each message
// kind has one handler, called on the user-interface thread while a session is
// open. The facts are read by error_mapping; here they move the session's
// phase, decide between failing and reconnecting, and queue the listener's
// events, delivered once per message.
#include <algorithm>
#include <utility>

#include "engine/pipeline/error_mapping.h"
#include "engine/player/playbin_player.h"
#include "engine/texts/status_texts.h"

namespace velmora::engine {
namespace {

namespace ps = playback::play_state;

constexpr int kDiagnosisTimeoutMs = 5000;

}  // namespace

void PlaybinPlayer::onMessage(GstMessage* message) {
    if (!session_) {
        return;
    }
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_STATE_CHANGED:
            onStateChanged(message);
            break;
        case GST_MESSAGE_ASYNC_DONE:
            onAsyncDone();
            break;
        case GST_MESSAGE_EOS:
            onEndOfStream();
            break;
        case GST_MESSAGE_ERROR:
            onError(message);
            break;
        case GST_MESSAGE_WARNING:
            onWarning(message);
            break;
        case GST_MESSAGE_ELEMENT:
            onElementMessage(message);
            break;
        case GST_MESSAGE_TAG:
            onTags(message);
            break;
        case GST_MESSAGE_DURATION_CHANGED:
            events_.queueMediaChange();
            break;
        default:
            break;
    }
    events_.deliver();
}

void PlaybinPlayer::onStateChanged(GstMessage* message) {
    if (GST_MESSAGE_SRC(message) != GST_OBJECT_CAST(session_->pipeline->playbin())) {
        return;
    }
    GstState newState = GST_STATE_NULL;
    gst_message_parse_state_changed(message, nullptr, &newState, nullptr);
    if (newState != GST_STATE_PLAYING) {
        return;
    }
    session_->markPlaying();
    recovery_.reconnecting = false;
    recovery_.policy.playing(steadyNowMs());
    recovery_.resumeAtNs = -1;
    if (intent_ == Intent::Play) {
        setStatus(ps::Playing, status_text::playing(session_->title));
    }
}

void PlaybinPlayer::onAsyncDone() {
    const bool first = session_->markPrerolled();
    session_->pipeline->prerolled();
    GstElement* playbin = session_->pipeline->playbin();
    g_debug("velmora: async done (first %d, seek to %lld)", first,
            static_cast<long long>(session_->seekOnPrerollNs));
    if (first && session_->seekOnPrerollNs > 0) {
        if (gst_element_seek_simple(playbin, GST_FORMAT_TIME,
                                    GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT),
                                    session_->seekOnPrerollNs)) {
            return;  // plays at the ASYNC_DONE that ends the seek
        }
    }
    session_->holdPaused = false;
    if (first && settings_.rate != 1.0 && settings_.rate > 0.0 && !isLive()) {
        const std::int64_t position = std::max<std::int64_t>(0, session_->pipeline->positionNs());
        gst_element_seek(playbin, settings_.rate, GST_FORMAT_TIME,
                         GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                         GST_SEEK_TYPE_SET, position, GST_SEEK_TYPE_NONE, -1);
    }
    applyPipelineState();
}

void PlaybinPlayer::onEndOfStream() {
    if (session_->ending == Ending::PlayingOut ||
        (address_.kind == MediaAddress::Kind::Network && isLive())) {
        // A live stream has no end: the server went away.
        loseConnection();
        return;
    }
    if (!session_->prerolled() && !recovery_.reconnecting) {
        fail(Failure{FailureKind::NotAudio, 0, {}});
        return;
    }
    ++playsDone_;
    if (playsDone_ < std::max(1, settings_.playCount)) {
        gst_element_seek_simple(session_->pipeline->playbin(), GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH,
                                0);
        return;
    }
    closeSession();
    intent_ = Intent::Stop;
    setStatus(ps::MediaEnded, status_text::ended());
    // "Ended" is shown for itself before the player settles in "stopped".
    events_.postLater([this] {
        if (events_.state() == ps::MediaEnded) {
            setStatus(ps::Stopped, status_text::ended());
            events_.deliver();
        }
    });
}

void PlaybinPlayer::onError(GstMessage* message) {
    // Only the first ERROR of a failure counts: more errors and an EOS follow.
    if (session_->ending != Ending::None) {
        return;
    }
    session_->ending = Ending::Failed;
    // The pipeline as it failed, for a developer: written only when
    // GST_DEBUG_DUMP_DOT_DIR names a folder.
    GST_DEBUG_BIN_TO_DOT_FILE_WITH_TS(GST_BIN(session_->pipeline->playbin()),
                                      GST_DEBUG_GRAPH_SHOW_ALL, "velmora-error");
    ErrorFacts facts = readErrorFacts(message);
    facts.networkSource = address_.kind == MediaAddress::Kind::Network;
    facts.httpStatus = std::max(facts.httpStatus, session_->httpStatus);
    facts.contentNotAudio = session_->contentNotAudio;
    facts.decoderMissing = session_->decoderMissing;
    g_debug("velmora: pipeline error: %s", facts.debug.c_str());
    const ErrorVerdict verdict = classifyError(facts);
    const FailureKind kind = verdict.failure.kind;
    const int status = verdict.failure.httpStatus;
    // A station whose source restarts answers "not found" (Icecast: a mount
    // with no source) or "unavailable" for a while: only the stream that
    // played before is retried through it.
    const bool stationRestarting =
        recovery_.reconnecting && kind == FailureKind::HttpError && status == 404;
    const bool streamLost =
        facts.networkSource && (verdict.needsDiagnosis || kind == FailureKind::ConnectionLost ||
                                kind == FailureKind::TimedOut || stationRestarting ||
                                (kind == FailureKind::HttpError && status >= 500));
    // Once data flowed, a loss is the network's doing: try again. Before
    // that, the address itself is at fault.
    const std::uint64_t bytes = session_->pipeline->progress().bytes;
    const bool hadData = bytes > 0;
    if (facts.domain == ErrorFacts::Domain::Resource && facts.code == GST_RESOURCE_ERROR_SEEK) {
        // The server ignores Range (souphttpsrc's own resume asked for it):
        // the next attempt starts the file over and skips what arrived.
        recovery_.resumeAtNs = -1;
        recovery_.rangeIgnored = true;
    }
    if (streamLost && bytes > session_->skippedBytes) {
        // The source pushes an end-of-stream behind its error: what arrived
        // plays out first, and the reconnect waits for that end.
        session_->ending = Ending::PlayingOut;
        return;
    }
    if (streamLost && (hadData || recovery_.reconnecting)) {
        loseConnection();
        return;
    }
    if (verdict.needsDiagnosis) {
        // The pipeline is done; the status keeps saying "connecting" until the
        // host has been probed.
        const std::string failedUri =
            session_->redirectedTo.empty() ? address_.uri : session_->redirectedTo;
        closeSession();
        diagnosis_ = std::make_unique<HostDiagnosis>(failedUri, kDiagnosisTimeoutMs, post_,
                                                     [this](Failure failure) {
                                                         fail(failure);
                                                         events_.deliver();
                                                     });
        return;
    }
    fail(verdict.failure);
}

void PlaybinPlayer::onWarning(GstMessage* message) {
    GError* rawError = nullptr;
    gchar* rawDebug = nullptr;
    gst_message_parse_warning(message, &rawError, &rawDebug);
    ErrorPtr warning(rawError);
    GCharPtr debug(rawDebug);
    g_debug("velmora: pipeline warning: %s", warning ? warning->message : "");
    // autoaudiosink with no sound server warns and falls back to a fake sink:
    // nothing could be heard, so this is a failure, not a note.
    if (isFromFactory(GST_MESSAGE_SRC(message), "autoaudiosink")) {
        fail(Failure{FailureKind::NoAudioOutput, 0, {}});
        return;
    }
}

void PlaybinPlayer::onElementMessage(GstMessage* message) {
    if (const std::optional<bool> audio = readMissingDecoder(message)) {
        (*audio ? session_->decoderMissing : session_->contentNotAudio) = true;
        return;
    }
    if (const std::optional<HttpAnswer> answer = readHttpAnswer(message)) {
        if (!answer->redirectedTo.empty()) {
            session_->redirectedTo = answer->redirectedTo;
        }
        if (answer->status > 0) {
            session_->httpStatus = answer->status;
        }
        if (answer->hasLength) {
            session_->hasLength = answer->hasLength;
        }
        if (!answer->stationName.empty()) {
            session_->stationName = answer->stationName;
        }
        return;
    }
    const GstStructure* structure = gst_message_get_structure(message);
    if (structure != nullptr && gst_structure_has_name(structure, StartGate::kProgressMessage)) {
        gst_structure_get_int(structure, "percent", &session_->startPercent);
        if (intent_ == Intent::Play && !session_->played() && !recovery_.reconnecting) {
            setStatus(ps::Buffering, status_text::buffering(session_->startPercent));
        }
    }
}

void PlaybinPlayer::onTags(GstMessage* message) {
    std::optional<std::string> title = readStreamTitle(message);
    if (!title || *title == session_->title) {
        return;
    }
    session_->title = std::move(*title);
    events_.queueMediaChange();
    if (events_.state() == ps::Playing) {
        setStatus(ps::Playing, status_text::playing(session_->title));
    }
}

}  // namespace velmora::engine
