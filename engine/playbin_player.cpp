#include "playbin_player.h"

#include <gst/pbutils/pbutils.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <utility>

#include "error_mapping.h"
#include "playback/player_error.h"
#include "status_texts.h"
#include "stream_title.h"

namespace velmora::engine {
namespace {

namespace ps = playback::play_state;

// How often the user-interface thread looks at the stream: stall and
// starvation checks.
constexpr int kWatchdogPeriodMs = 100;
// Less sound than this ahead of the listener means the sink is running dry.
constexpr std::int64_t kStarvingNs = 40 * GST_MSECOND;
// This much sound ahead of the listener means the network keeps up, whether
// or not bytes moved lately.
constexpr std::int64_t kWellSuppliedNs = 1000 * GST_MSECOND;
constexpr std::int64_t kUnknownNs = std::numeric_limits<std::int64_t>::min();
// After running dry, playing resumes with this much ahead, doubled each time.
constexpr std::int64_t kFirstRebufferNs = 1000 * GST_MSECOND;
constexpr std::int64_t kMaxRebufferNs = 3000 * GST_MSECOND;
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

PlaybinPlayer::PlaybinPlayer(const playback::PlayerSettings& settings, EngineOptions options)
    : settings_(settings),
      options_(std::move(options)),
      post_(options_.postToUiThread ? options_.postToUiThread : defaultUiPost()),
      stateWorker_(pluginPreloader()),
      reconnect_(options_.reconnect),
      reconnectTimer_(post_),
      watchdog_(post_) {}

PlaybinPlayer::~PlaybinPlayer() {
    listener_ = nullptr;
    alive_.reset();
    reconnectTimer_.cancel();
    closeSession();
}

// ---- the interface ---------------------------------------------------------

void PlaybinPlayer::setURL(std::string_view url) {
    closeSession();
    reconnectTimer_.cancel();
    reconnecting_ = false;
    reconnect_.reset();
    playsDone_ = 0;
    forgetResume();
    address_ = readMediaAddress(url);
    switch (address_.kind) {
        case MediaAddress::Kind::None:
            intent_ = Intent::Stop;
            if (state_ != ps::Undefined) {
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
    postDelivery();
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
            forgetResume();
            reconnect_.reset();
        }
        openSession();
    } else {
        applyPipelineState();
        if (session_->rebuffering) {
            setStatus(ps::Buffering, status_text::buffering(0));
        } else if (session_->reachedPlaying) {
            // The pipeline resumes from its own buffer: nothing to wait for.
            setStatus(ps::Playing, status_text::playing(session_->title));
        } else {
            setStatus(ps::Buffering, status_text::buffering(session_->startPercent));
        }
    }
    postDelivery();
}

void PlaybinPlayer::pause() {
    if (intent_ != Intent::Play) {
        return;
    }
    intent_ = Intent::Pause;
    if (reconnecting_) {
        // The next play() opens afresh; nothing to wait for until then.
        reconnectTimer_.cancel();
        reconnecting_ = false;
    }
    if (session_) {
        session_->pausedAt = Clock::now();
        applyPipelineState();
    }
    setStatus(ps::Paused, status_text::paused());
    postDelivery();
}

void PlaybinPlayer::stop() {
    if (state_ == ps::Undefined) {
        return;
    }
    intent_ = Intent::Stop;
    reconnectTimer_.cancel();
    reconnecting_ = false;
    forgetResume();
    closeSession();
    setStatus(ps::Stopped, status_text::stopped());
    postDelivery();
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
    setup.skipBytes = skipBytes_;
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
    session->lastProgress = Clock::now();
    session->resumeAtNs = resumeAtNs_;
    session->holdPaused = resumeAtNs_ > 0;
    session->skipBytes = skipBytes_;
    session_ = std::move(session);
    if (session_->holdPaused) {
        // Prerolls (paused, so nothing is heard) to be able to seek.
        session_->pipeline->startGate().openNow();
    }
    if (!reconnecting_) {
        setStatus(ps::Transitioning, status_text::connecting(address_.host));
    }
    // Straight to PLAYING: the start gate holds the sound back until enough
    // is buffered, so the clock starts with the first sound.
    applyPipelineState();
    if (address_.kind == MediaAddress::Kind::Network) {
        watchdog_.start(kWatchdogPeriodMs, [this] { onWatchdog(); });
    }
}

void PlaybinPlayer::forgetResume() {
    resumeAtNs_ = -1;
    rangeIgnored_ = false;
    skipBytes_ = 0;
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
    const bool play = intent_ == Intent::Play && !session_->rebuffering && !session_->holdPaused;
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
            queueEvent({Event::Kind::MediaChange, {}});
            break;
        default:
            break;
    }
    deliverEvents();
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
    session_->reachedPlaying = true;
    reconnecting_ = false;
    reconnect_.playing(steadyNowMs());
    resumeAtNs_ = -1;
    if (intent_ == Intent::Play) {
        setStatus(ps::Playing, status_text::playing(session_->title));
    }
}

void PlaybinPlayer::onAsyncDone() {
    const bool first = !session_->prerolled;
    session_->prerolled = true;
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
    if (session_->sourceLost || (address_.kind == MediaAddress::Kind::Network && isLive())) {
        // A live stream has no end: the server went away.
        loseConnection();
        return;
    }
    if (!session_->prerolled && !reconnecting_) {
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
        if (alive.lock() && state_ == ps::MediaEnded) {
            setStatus(ps::Stopped, status_text::ended());
            deliverEvents();
        }
    });
}

void PlaybinPlayer::onError(GstMessage* message) {
    // Only the first ERROR of a failure counts: more errors and an EOS follow.
    if (session_->failed) {
        return;
    }
    session_->failed = true;
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
    const bool stationRestarting = reconnecting_ && kind == FailureKind::HttpError && status == 404;
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
        resumeAtNs_ = -1;
        rangeIgnored_ = true;
    }
    if (streamLost && bytes > session_->skipBytes) {
        // The source pushes an end-of-stream behind its error: what arrived
        // plays out first, and the reconnect waits for that end.
        session_->sourceLost = true;
        return;
    }
    if (streamLost && (hadData || reconnecting_)) {
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
                                                         deliverEvents();
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
    // "No decoder available for type 'text/html'": the content is no audio.
    static constexpr char kNoDecoder[] = "No decoder available for type '";
    if (warning && startsWith(warning->message, kNoDecoder)) {
        const char* type = warning->message + std::strlen(kNoDecoder);
        if (startsWith(type, "audio/")) {
            session_->decoderMissing = true;
        } else {
            session_->contentNotAudio = true;
        }
    }
}

void PlaybinPlayer::onElementMessage(GstMessage* message) {
    if (gst_is_missing_plugin_message(message)) {
        const GstStructure* details = gst_message_get_structure(message);
        const GValue* detail = gst_structure_get_value(details, "detail");
        bool audio = false;
        if (detail != nullptr && GST_VALUE_HOLDS_CAPS(detail)) {
            const GstCaps* caps = gst_value_get_caps(detail);
            audio = gst_caps_get_size(caps) > 0 &&
                    startsWith(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/");
        }
        (audio ? session_->decoderMissing : session_->contentNotAudio) = true;
        return;
    }
    const GstStructure* structure = gst_message_get_structure(message);
    if (structure == nullptr) {
        return;
    }
    if (gst_structure_has_name(structure, StartGate::kProgressMessage)) {
        gst_structure_get_int(structure, "percent", &session_->startPercent);
        if (intent_ == Intent::Play && !session_->reachedPlaying && !reconnecting_) {
            setStatus(ps::Buffering, status_text::buffering(session_->startPercent));
        }
        return;
    }
    if (!gst_structure_has_name(structure, "http-headers")) {
        return;
    }
    if (const char* target = gst_structure_get_string(structure, "redirection-uri")) {
        session_->redirectedTo = target;
    }
    guint status = 0;
    if (gst_structure_get_uint(structure, "http-status-code", &status)) {
        session_->httpStatus = static_cast<int>(status);
    }
    const GstStructure* response = nullptr;
    if (gst_structure_get(structure, "response-headers", GST_TYPE_STRUCTURE, &response, nullptr) &&
        response != nullptr) {
        const bool icy = !headerValue(response, "icy-metaint").empty() ||
                         !headerValue(response, "icy-name").empty();
        session_->hasLength = !icy && !headerValue(response, "Content-Length").empty();
        session_->stationName = streamTitleText(headerValue(response, "icy-name"));
        gst_structure_free(const_cast<GstStructure*>(response));
    }
}

void PlaybinPlayer::onTags(GstMessage* message) {
    GstTagList* rawTags = nullptr;
    gst_message_parse_tag(message, &rawTags);
    TagListPtr tags(rawTags);
    gchar* rawTitle = nullptr;
    if (!gst_tag_list_get_string(tags.get(), GST_TAG_TITLE, &rawTitle)) {
        return;
    }
    GCharPtr title(rawTitle);
    std::string text = streamTitleText(title.get());
    if (text.empty() || text == session_->title) {
        return;
    }
    session_->title = std::move(text);
    queueEvent({Event::Kind::MediaChange, {}});
    if (state_ == ps::Playing) {
        setStatus(ps::Playing, status_text::playing(session_->title));
    }
}

// ---- network trouble -----------------------------------------------------------

void PlaybinPlayer::onWatchdog() {
    if (!session_) {
        return;
    }
    if (checkStall()) {
        deliverEvents();
        return;
    }
    checkStarvation();
    deliverEvents();
    watchdog_.start(kWatchdogPeriodMs, [this] { onWatchdog(); });
}

bool PlaybinPlayer::checkStall() {
    const auto now = Clock::now();
    const SourceProgress& progress = session_->pipeline->progress();
    const std::uint64_t bytes = progress.bytes;
    // A server faster than real time fills every buffer, and then the source
    // waits for room, sometimes for many seconds: no bytes move, yet nothing
    // is missing. Only a stream that lets the sound ahead run low is stalled.
    const bool wellSupplied = soundAheadNs() >= kWellSuppliedNs;
    if (bytes != session_->bytesAtLastCheck || wellSupplied || intent_ != Intent::Play ||
        progress.finished) {
        session_->bytesAtLastCheck = bytes;
        session_->lastProgress = now;
        return false;
    }
    if (now - session_->lastProgress < std::chrono::milliseconds(options_.stallTimeoutMs)) {
        return false;
    }
    g_debug("velmora: no data for %d ms", options_.stallTimeoutMs);
    if (session_->reachedPlaying || reconnecting_) {
        loseConnection();
    } else {
        fail(Failure{FailureKind::TimedOut, 0, {}});
    }
    return true;
}

void PlaybinPlayer::checkStarvation() {
    // An unpaced sink takes the sound as fast as it is decoded: nothing is
    // ever ahead of it, and nothing is missing either.
    if (!session_->reachedPlaying || intent_ != Intent::Play ||
        options_.audioOutput == AudioOutput::Unpaced) {
        return;
    }
    if (session_->pipeline->progress().finished) {
        // Nothing more will come: play out what is there, then the end.
        if (session_->rebuffering) {
            session_->rebuffering = false;
            applyPipelineState();
        }
        return;
    }
    const std::int64_t aheadNs = soundAheadNs();
    if (aheadNs == kUnknownNs) {
        return;
    }
    if (!session_->rebuffering) {
        if (aheadNs >= kStarvingNs) {
            return;
        }
        // The sound ran out: pause until a longer buffer is there than last time.
        session_->rebuffering = true;
        session_->rebufferTargetNs = std::clamp<std::int64_t>(session_->rebufferTargetNs * 2,
                                                              kFirstRebufferNs, kMaxRebufferNs);
        g_debug("velmora: sound ran out, buffering %lld ms",
                static_cast<long long>(session_->rebufferTargetNs / GST_MSECOND));
        setStatus(ps::Buffering, status_text::buffering(0));
        applyPipelineState();
        return;
    }
    if (aheadNs >= session_->rebufferTargetNs) {
        session_->rebuffering = false;
        applyPipelineState();  // "playing" comes with the pipeline's PLAYING
        return;
    }
    setStatus(ps::Buffering,
              status_text::buffering(static_cast<int>(std::max<std::int64_t>(0, aheadNs) * 100 /
                                                      session_->rebufferTargetNs)));
}

std::int64_t PlaybinPlayer::soundAheadNs() const {
    const std::int64_t queuedEnd = session_->pipeline->startGate().queuedEndNs();
    const std::int64_t position = session_->pipeline->positionNs();
    if (queuedEnd < 0 || position < 0) {
        return kUnknownNs;
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
        if (rangeIgnored_) {
            skipBytes_ = std::max<std::uint64_t>(skipBytes_, bytes);
        } else if (session_->reachedPlaying) {
            // A file goes on where it broke off.
            const std::int64_t position = session_->pipeline->positionNs();
            if (position > 0) {
                resumeAtNs_ = position;
            }
        }
    }
    closeSession();
    if (intent_ != Intent::Play) {
        return;  // paused: play() opens afresh
    }
    reconnecting_ = true;
    const std::optional<int> delayMs = reconnect_.nextDelayMs(steadyNowMs());
    if (!delayMs) {
        fail(Failure{FailureKind::ReconnectsExhausted, 0, {}});
        return;
    }
    setStatus(ps::Reconnecting, status_text::reconnecting(reconnect_.attempt()));
    reconnectTimer_.start(*delayMs, [this] {
        openSession();
        deliverEvents();
    });
}

void PlaybinPlayer::fail(const Failure& failure) {
    closeSession();
    reconnectTimer_.cancel();
    reconnecting_ = false;
    forgetResume();
    intent_ = Intent::Stop;
    setStatus(ps::Stopped, failureStatusText(failure));
    queueEvent({noticeFor(failure.kind) == Notice::Warning ? Event::Kind::Warning
                                                           : Event::Kind::MediaError,
                failure});
}

// ---- events to the listener ------------------------------------------------------

void PlaybinPlayer::setStatus(std::int32_t state, std::string text) {
    if (state == state_ && text == status_) {
        return;
    }
    state_ = state;
    status_ = std::move(text);
    queueEvent({Event::Kind::StatusChange, {}});
}

void PlaybinPlayer::queueEvent(Event event) { events_.push_back(std::move(event)); }

void PlaybinPlayer::postDelivery() {
    if (deliveryPosted_ || events_.empty()) {
        return;
    }
    deliveryPosted_ = true;
    post_([alive = std::weak_ptr<int>(alive_), this] {
        if (alive.lock()) {
            deliveryPosted_ = false;
            deliverEvents();
        }
    });
}

void PlaybinPlayer::deliverEvents() {
    // One at a time from the front: a listener may call back into the player,
    // or open a modal loop in which more events are delivered.
    while (!events_.empty()) {
        const Event event = events_.front();
        events_.pop_front();
        switch (event.kind) {
            case Event::Kind::StatusChange:
                // Several changes since the last delivery make one event: the
                // listener reads the current values.
                if (state_ == notifiedState_ && status_ == notifiedStatus_) {
                    break;
                }
                notifiedState_ = state_;
                notifiedStatus_ = status_;
                if (listener_ != nullptr) {
                    listener_->onStatusChange();
                }
                break;
            case Event::Kind::Warning:
                if (listener_ != nullptr) {
                    listener_->onWarning(static_cast<std::int32_t>(event.failure.kind),
                                         event.failure.httpStatus,
                                         failureStatusText(event.failure));
                }
                break;
            case Event::Kind::MediaError:
                if (listener_ != nullptr) {
                    listener_->onMediaError();
                }
                break;
            case Event::Kind::MediaChange:
                if (listener_ != nullptr) {
                    listener_->onMediaChange();
                }
                break;
        }
    }
}

}  // namespace velmora::engine
