// The player's intent and its sessions: the interface calls set what the user
// wants, open and close sessions, and say where the pipeline should be. Bus
// messages, the watchdog and reconnecting live in files of their own, each a
// part of this one class.
#include "engine/player/playbin_player.h"

#include <algorithm>
#include <utility>

#include "engine/runtime/plugin_preload.h"
#include "engine/texts/status_texts.h"
#include "playback/player_error.h"

namespace velmora::engine {
namespace {

namespace ps = playback::play_state;

constexpr int kSourceTimeoutMarginS = 5;
// A live stream paused for longer than its buffer holds resumes at the live
// edge: the server has gone on without us.
constexpr auto kLivePauseKeepsBuffer = std::chrono::seconds(5);

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
    session->seekOnPrerollNs = recovery_.resumeAtNs;
    session->holdPaused = recovery_.resumeAtNs > 0;
    session->skippedBytes = recovery_.skipBytes;
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

void PlaybinPlayer::fail(const Failure& failure) {
    closeSession();
    resetRecovery();
    intent_ = Intent::Stop;
    setStatus(ps::Stopped, failureStatusText(failure));
    events_.queueNotice(failure);
}

}  // namespace velmora::engine
