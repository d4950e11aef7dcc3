#include "playbin_player.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <utility>

#include "error_mapping.h"
#include "playback/player_error.h"
#include "status_texts.h"

namespace velmora::engine {
namespace {

namespace ps = playback::play_state;

// How often the user-interface thread looks at the stream: stall and
// starvation checks.
constexpr int kWatchdogPeriodMs = 100;
constexpr int kDiagnosisTimeoutMs = 5000;
constexpr int kSourceTimeoutMarginS = 5;
// A live stream paused for longer than its buffer holds resumes at the live
// edge: the server has gone on without us.
constexpr auto kLivePauseKeepsBuffer = std::chrono::seconds(5);

// The plugins a stream needs after the connection is open, in the order it
// needs them. Loading them while the player starts and the server answers
// keeps the loading off the way to the first sound.
constexpr const char* kPluginsToPreload[] = {
    "playback", "coreelements", "autodetect", "pulseaudio", "soup",         "typefindfunctions",
    "icydemux", "audioparsers", "mpg123",     "volume",     "audioconvert", "audioresample",
};

// One plugin a call, so that a state request never waits for the whole list.
std::function<bool()> pluginPreloader() {
    return [next = std::size_t{0}]() mutable {
        if (GstPlugin* plugin = gst_plugin_load_by_name(kPluginsToPreload[next])) {
            gst_object_unref(plugin);
        }
        return ++next < std::size(kPluginsToPreload);
    };
}

std::int64_t steadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

PlaybinPlayer::PlaybinPlayer(const playback::PlayerSettings& settings, EngineOptions options)
    : settings_(settings),
      options_(std::move(options)),
      post_(options_.postToUiThread ? options_.postToUiThread : defaultUiPost()),
      events_(post_),
      recovery_(options_.reconnect),
      stateWorker_(pluginPreloader()),
      reconnectTimer_(post_),
      watchdog_(post_) {}

PlaybinPlayer::~PlaybinPlayer() {
    events_.setListener(nullptr);
    alive_.reset();
    reconnectTimer_.cancel();
    closeSession();
}

// ---- the interface ---------------------------------------------------------

void PlaybinPlayer::setURL(std::string_view url) {
    closeSession();
    resetRecovery();
    playsDone_ = 0;
    address_ = readMediaAddress(url);
    switch (address_.kind) {
        case MediaAddress::Kind::None:
            intent_ = Intent::Stop;
            if (events_.state() != ps::Undefined) {
                setStatus(ps::Stopped, status_text::stopped());
            }
            break;
        case MediaAddress::Kind::Refused:
            fail(Failure{FailureKind::UnsupportedAddress, 0, {}});
            break;
        case MediaAddress::Kind::Network:
        case MediaAddress::Kind::File:
            if (address_.kind == MediaAddress::Kind::File) {
                if (const auto problem = localFileProblem(address_)) {
                    address_ = {};
                    fail(Failure{*problem, 0, {}});
                    break;
                }
            }
            if (settings_.autoStart) {
                intent_ = Intent::Play;
                openSession();
            } else {
                intent_ = Intent::Stop;
                setStatus(ps::Stopped, status_text::stopped());
            }
            break;
    }
    events_.postDelivery();
}

void PlaybinPlayer::play() {
    if (address_.kind != MediaAddress::Kind::Network && address_.kind != MediaAddress::Kind::File) {
        return;
    }
    if (intent_ == Intent::Play) {
        return;
    }
    const bool resuming = intent_ == Intent::Pause;
    intent_ = Intent::Play;
    if (session_ && resuming && isLive() &&
        Clock::now() - session_->pausedAt > kLivePauseKeepsBuffer) {
        closeSession();
    }
    if (!session_) {
        if (!resuming) {
            playsDone_ = 0;
            resetRecovery();
        }
        openSession();
    } else {
        applyPipelineState();
        if (session_->health.refilling()) {
            setStatus(ps::Buffering, status_text::buffering(0));
        } else if (session_->played()) {
            // The pipeline resumes from its own buffer: nothing to wait for.
            setStatus(ps::Playing, status_text::playing(session_->title));
        } else {
            setStatus(ps::Buffering, status_text::buffering(session_->startPercent));
        }
    }
    events_.postDelivery();
}

void PlaybinPlayer::pause() {
    if (intent_ != Intent::Play) {
        return;
    }
    intent_ = Intent::Pause;
    if (recovery_.reconnecting) {
        // The next play() opens afresh; nothing to wait for until then.
        reconnectTimer_.cancel();
        recovery_.reconnecting = false;
    }
    if (session_) {
        session_->pausedAt = Clock::now();
        applyPipelineState();
    }
    setStatus(ps::Paused, status_text::paused());
    events_.postDelivery();
}

void PlaybinPlayer::stop() {
    if (events_.state() == ps::Undefined) {
        return;
    }
    intent_ = Intent::Stop;
    resetRecovery();
    closeSession();
    setStatus(ps::Stopped, status_text::stopped());
    events_.postDelivery();
}

playback::MediaDetails PlaybinPlayer::mediaDetails() const {
    playback::MediaDetails details;
    details.url = address_.uri;
    if (session_) {
        details.title = session_->title;
        details.stationName = session_->stationName;
        gint64 durationNs = -1;
        if (!isLive() &&
            gst_element_query_duration(session_->pipeline->playbin(), GST_FORMAT_TIME,
                                       &durationNs) &&
            durationNs > 0) {
            details.lengthUs = durationNs / 1000;
        }
    }
    return details;
}

void PlaybinPlayer::setVolume(int percent) {
    settings_.volume = std::clamp(percent, 0, 100);
    if (session_) {
        g_object_set(session_->pipeline->playbin(), "volume", settings_.volume / 100.0, nullptr);
    }
}

// ---- sessions ----------------------------------------------------------------

void PlaybinPlayer::openSession() {
    closeSession();
    PipelineSetup setup;
    setup.uri = address_.uri;
    setup.audioOutput = options_.audioOutput;
    setup.onPcm = options_.onPcm;
    setup.volume = std::clamp(settings_.volume, 0, 100) / 100.0;
    setup.mute = settings_.mute;
    setup.balance = std::clamp(settings_.balance, -100, 100) / 100.0;
    setup.skipBytes = recovery_.skipBytes;
    // souphttpsrc gives up later than the watchdog, so that a stall is always
    // the watchdog's to report.
    setup.networkTimeoutS = (options_.stallTimeoutMs + 999) / 1000 + kSourceTimeoutMarginS;
    auto session = std::make_unique<Session>();
    try {
        session->pipeline = std::make_unique<Pipeline>(
            setup, post_, [this](GstMessage* message) { onMessage(message); }, stateWorker_);
    } catch (const playback::PlayerError& error) {
        g_warning("velmora: %s", error.what());
        fail(Failure{FailureKind::Internal, 0, {}});
        return;
    }
    session->health =
        NetworkHealth(std::chrono::milliseconds(options_.stallTimeoutMs), Clock::now());
    session->resumeAtNs = recovery_.resumeAtNs;
    session->holdPaused = recovery_.resumeAtNs > 0;
    session->skipBytes = recovery_.skipBytes;
    session_ = std::move(session);
    if (session_->holdPaused) {
        // Prerolls (paused, so nothing is heard) to be able to seek.
        session_->pipeline->startGate().openNow();
    }
    if (!recovery_.reconnecting) {
        setStatus(ps::Transitioning, status_text::connecting(address_.host));
    }
    // Straight to PLAYING: the start gate holds the sound back until enough
    // is buffered, so the clock starts with the first sound.
    applyPipelineState();
    if (address_.kind == MediaAddress::Kind::Network) {
        watchdog_.start(kWatchdogPeriodMs, [this] { onWatchdog(); });
    }
}

void PlaybinPlayer::resetRecovery() {
    reconnectTimer_.cancel();
    recovery_ = Recovery(options_.reconnect);
}

void PlaybinPlayer::closeSession() {
    watchdog_.cancel();
    diagnosis_.reset();
    session_.reset();
}

void PlaybinPlayer::applyPipelineState() {
    if (!session_) {
        return;
    }
    const bool play =
        intent_ == Intent::Play && !session_->health.refilling() && !session_->holdPaused;
    if (!session_->holdPaused) {
        session_->pipeline->startGate().allow(intent_ == Intent::Play);
    }
    const GstState wanted = play ? GST_STATE_PLAYING : GST_STATE_PAUSED;
    if (session_->pipeline->requestedState() != wanted) {
        session_->pipeline->requestState(wanted);
    }
}

bool PlaybinPlayer::isLive() const {
    if (session_ && session_->hasLength.has_value()) {
        return !*session_->hasLength;
    }
    return address_.kind == MediaAddress::Kind::Network;
}

// ---- bus messages ------------------------------------------------------------

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
    session_->phase = Phase::Playing;
    recovery_.reconnecting = false;
    recovery_.policy.playing(steadyNowMs());
    recovery_.resumeAtNs = -1;
    if (intent_ == Intent::Play) {
        setStatus(ps::Playing, status_text::playing(session_->title));
    }
}

void PlaybinPlayer::onAsyncDone() {
    const bool first = !session_->prerolled();
    if (first) {
        session_->phase = Phase::Prerolled;
    }
    session_->pipeline->prerolled();
    GstElement* playbin = session_->pipeline->playbin();
    g_debug("velmora: async done (first %d, resume at %lld)", first,
            static_cast<long long>(session_->resumeAtNs));
    if (first && session_->resumeAtNs > 0) {
        if (gst_element_seek_simple(playbin, GST_FORMAT_TIME,
                                    GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT),
                                    session_->resumeAtNs)) {
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
    post_([alive = std::weak_ptr<int>(alive_), this] {
        if (alive.lock() && events_.state() == ps::MediaEnded) {
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
    if (streamLost && bytes > session_->skipBytes) {
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

// ---- network trouble -----------------------------------------------------------

void PlaybinPlayer::onWatchdog() {
    if (!session_) {
        return;
    }
    const SourceProgress& progress = session_->pipeline->progress();
    const NetworkHealth::Look look{Clock::now(), progress.bytes, soundAheadNs(),
                                   intent_ == Intent::Play, progress.finished};
    if (checkStall(look)) {
        events_.deliver();
        return;
    }
    checkStarvation(look);
    events_.deliver();
    watchdog_.start(kWatchdogPeriodMs, [this] { onWatchdog(); });
}

bool PlaybinPlayer::checkStall(const NetworkHealth::Look& look) {
    if (!session_->health.stalled(look)) {
        return false;
    }
    g_debug("velmora: no data for %d ms", options_.stallTimeoutMs);
    if (session_->played() || recovery_.reconnecting) {
        loseConnection();
    } else {
        fail(Failure{FailureKind::TimedOut, 0, {}});
    }
    return true;
}

void PlaybinPlayer::checkStarvation(const NetworkHealth::Look& look) {
    // An unpaced sink takes the sound as fast as it is decoded: nothing is
    // ever ahead of it, and nothing is missing either.
    if (!session_->played() || intent_ != Intent::Play ||
        options_.audioOutput == AudioOutput::Unpaced) {
        return;
    }
    switch (session_->health.supply(look)) {
        case NetworkHealth::Supply::Unchanged:
            break;
        case NetworkHealth::Supply::RanDry:
            g_debug("velmora: sound ran out");
            setStatus(ps::Buffering, status_text::buffering(0));
            applyPipelineState();
            break;
        case NetworkHealth::Supply::Refilling:
            setStatus(ps::Buffering, status_text::buffering(session_->health.refillPercent()));
            break;
        case NetworkHealth::Supply::Refilled:
            applyPipelineState();  // "playing" comes with the pipeline's PLAYING
            break;
    }
}

std::int64_t PlaybinPlayer::soundAheadNs() const {
    const std::int64_t queuedEnd = session_->pipeline->startGate().queuedEndNs();
    const std::int64_t position = session_->pipeline->positionNs();
    if (queuedEnd < 0 || position < 0) {
        return NetworkHealth::kUnknownNs;
    }
    return queuedEnd - position;
}

void PlaybinPlayer::loseConnection() {
    if (session_ && !isLive()) {
        const std::uint64_t bytes = session_->pipeline->progress().bytes;
        if (session_->skipBytes > 0 && bytes == session_->skipBytes) {
            // Started over and cut at the same byte: all there is was played.
            fail(Failure{FailureKind::ConnectionLost, 0, {}});
            return;
        }
        if (recovery_.rangeIgnored) {
            recovery_.skipBytes = std::max<std::uint64_t>(recovery_.skipBytes, bytes);
        } else if (session_->played()) {
            // A file goes on where it broke off.
            const std::int64_t position = session_->pipeline->positionNs();
            if (position > 0) {
                recovery_.resumeAtNs = position;
            }
        }
    }
    closeSession();
    if (intent_ != Intent::Play) {
        return;  // paused: play() opens afresh
    }
    recovery_.reconnecting = true;
    const std::optional<int> delayMs = recovery_.policy.nextDelayMs(steadyNowMs());
    if (!delayMs) {
        fail(Failure{FailureKind::ReconnectsExhausted, 0, {}});
        return;
    }
    setStatus(ps::Reconnecting, status_text::reconnecting(recovery_.policy.attempt()));
    reconnectTimer_.start(*delayMs, [this] {
        openSession();
        events_.deliver();
    });
}

void PlaybinPlayer::fail(const Failure& failure) {
    closeSession();
    resetRecovery();
    intent_ = Intent::Stop;
    setStatus(ps::Stopped, failureStatusText(failure));
    events_.queueNotice(failure);
}

}  // namespace velmora::engine
