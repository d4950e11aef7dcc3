#include "engine/player/engine_player.h"

#include <algorithm>
#include <utility>

#include "engine/runtime/plugin_preload.h"
#include "engine/texts/status_texts.h"
#include "playback/player_error.h"

namespace velmora::engine {
namespace {

namespace ps = playback::play_state;

// A live stream paused for longer than its buffer holds resumes at the live
// edge: the server has gone on without us.
constexpr auto kLivePauseKeepsBuffer = std::chrono::seconds(5);

std::string hostOf(const std::string& uri) { return readMediaAddress(uri).host; }

}  // namespace

EnginePlayer::EnginePlayer(const playback::PlayerSettings& settings, ThreadKeeper& threads,
                           EngineOptions options)
    : settings_(settings),
      options_(std::move(options)),
      context_(options_.context),
      events_(context_),
      stateWorker_(threads, pluginPreloader()),
      // The whole failover gets the time one dead stream takes to be given up.
      recovery_(context_, options_.reconnect, options_.stallTimeoutMs,
                [this](const Step& step) { act(step); }),
      networkReturn_(context_, [this] { onNetworkBack(); }) {}

EnginePlayer::~EnginePlayer() {
    events_.setListener(nullptr);
    close();
    retired_.clear();  // while the state worker that takes their pipelines down is there
}

// ---- the interface -----------------------------------------------------------------------

void EnginePlayer::setURL(std::string_view url) {
    close();
    recovery_.reset();
    playsDone_ = 0;
    beginOnPlay_ = false;
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
                recovery_.begin(address_);
            } else {
                intent_ = Intent::Stop;
                setStatus(ps::Stopped, status_text::stopped());
            }
            break;
    }
}

void EnginePlayer::play() {
    if (address_.kind != MediaAddress::Kind::Network && address_.kind != MediaAddress::Kind::File) {
        return;
    }
    if (intent_ == Intent::Play) {
        return;
    }
    const bool resuming = intent_ == Intent::Pause && !std::exchange(beginOnPlay_, false);
    intent_ = Intent::Play;
    if (session_ && resuming && session_->live() &&
        Clock::now() - pausedAt_ > kLivePauseKeepsBuffer) {
        close();
    }
    if (!session_ && !fetch_) {
        if (resuming) {
            recovery_.resume();
        } else {
            playsDone_ = 0;
            recovery_.begin(address_);
        }
    } else if (session_) {
        session_->setWanted(true);
        if (session_->outputGone()) {
            setStatus(ps::Buffering, status_text::outputGone());
        } else if (session_->refilling()) {
            setStatus(ps::Buffering, status_text::buffering(0));
        } else if (session_->played()) {
            // The pipeline resumes from its own buffer: nothing to wait for.
            setStatus(ps::Playing, status_text::playing(title()));
        } else {
            setStatus(ps::Buffering, status_text::buffering(session_->startPercent()));
        }
    }
}

void EnginePlayer::pause() {
    if (intent_ != Intent::Play) {
        return;
    }
    intent_ = Intent::Pause;
    recovery_.hold();
    if (fetch_) {
        // Nothing plays yet: play() starts the request over.
        fetch_.reset();
        beginOnPlay_ = true;
    }
    if (session_) {
        pausedAt_ = Clock::now();
        session_->setWanted(false);
    }
    setStatus(ps::Paused, status_text::paused());
}

void EnginePlayer::stop() {
    if (events_.state() == ps::Undefined) {
        return;
    }
    intent_ = Intent::Stop;
    recovery_.reset();
    close();
    setStatus(ps::Stopped, status_text::stopped());
}

playback::MediaDetails EnginePlayer::mediaDetails() const {
    playback::MediaDetails details;
    details.url = address_.uri;
    if (session_) {
        details.title = session_->facts().title();
        details.stationName = session_->facts().stationName();
        if (const auto durationNs = session_->durationNs()) {
            details.lengthUs = *durationNs / 1000;
        }
    }
    // The playlist's name for the station stands in until the stream names
    // itself, and its address for a name that cannot be read.
    if (details.stationName.empty()) {
        details.stationName = recovery_.current().title;
    }
    if (details.stationName.empty() && session_ && session_->facts().unnamedStation()) {
        details.stationName = recovery_.current().uri;
    }
    return details;
}

void EnginePlayer::setVolume(int percent) {
    settings_.volume = std::clamp(percent, 0, 100);
    if (session_) {
        session_->setVolume(settings_.volume / 100.0);
    }
}

std::string EnginePlayer::title() const {
    if (session_ && !session_->facts().title().empty()) {
        return session_->facts().title();
    }
    return recovery_.current().title;
}

// ---- the network under the stream ---------------------------------------------------------

void EnginePlayer::onNetworkBack() {
    // Paused or stopped, no connection is worth mending: play() opens anew
    // when it has to. A first opening still connecting goes on as it is.
    if (intent_ != Intent::Play || address_.kind != MediaAddress::Kind::Network) {
        return;
    }
    if (session_ && (session_->played() || recovery_.reconnecting())) {
        recovery_.broken(session_->cutOff(), true);
    } else if (!session_ && !fetch_) {
        recovery_.networkBack();
    }
}

// ---- what the recovery decides ----------------------------------------------------------------

void EnginePlayer::act(const Step& step) {
    switch (step.kind) {
        case Step::Kind::Open:
            close();
            if (step.attempt == 0) {
                setStatus(ps::Transitioning,
                          status_text::connecting(step.opening.network ? hostOf(step.opening.uri)
                                                                       : std::string()));
            }
            openSession(step.opening);
            break;
        case Step::Kind::Fetch:
            close();
            setStatus(ps::Transitioning, status_text::connecting(hostOf(step.candidate.uri)));
            startFetch(step.candidate, step.fromStream);
            break;
        case Step::Kind::Wait:
            close();
            setStatus(ps::Reconnecting, status_text::reconnecting(step.attempt));
            break;
        case Step::Kind::Hold:
            close();  // paused: play() opens afresh
            break;
        case Step::Kind::GiveUp:
            fail(step.failure);
            break;
    }
}

void EnginePlayer::openSession(const Opening& opening) {
    SessionSettings session;
    session.volume = std::clamp(settings_.volume, 0, 100) / 100.0;
    session.mute = settings_.mute;
    session.balance = std::clamp(settings_.balance, -100, 100) / 100.0;
    session.rate = settings_.rate;
    session.output = options_.audioOutput;
    session.timeoutMs = options_.stallTimeoutMs;
    session.http = http_;
    try {
        SessionObserver& observer = *this;
        session_ =
            std::make_unique<MediaSession>(opening, session, context_, stateWorker_, observer);
    } catch (const playback::PlayerError& error) {
        g_warning("velmora: %s", error.what());
        fail(Failure{FailureKind::Internal, 0, {}});
        return;
    }
    // Straight to PLAYING: the start gate holds the sound back until enough
    // is buffered, so the clock starts with the first sound.
    session_->setWanted(intent_ == Intent::Play);
}

void EnginePlayer::startFetch(const Candidate& candidate, bool fromStream) {
    fetch_ = std::make_unique<PlaylistFetch>(candidate.uri, context_, stateWorker_, http_,
                                             [this, candidate, fromStream](FetchedBody body) {
                                                 fetch_.reset();
                                                 recovery_.fetched(candidate, fromStream, body);
                                             });
}

void EnginePlayer::close() {
    fetch_.reset();
    if (session_) {
        session_->close();
        retired_.push_back(std::move(session_));
        retireLater();
    }
}

void EnginePlayer::retireLater() {
    if (std::exchange(retirePosted_, true)) {
        return;
    }
    events_.postLater([this] {
        retirePosted_ = false;
        retired_.clear();
    });
}

void EnginePlayer::fail(const Failure& failure) {
    close();
    recovery_.reset();
    intent_ = Intent::Stop;
    setStatus(ps::Stopped, failureStatusText(failure));
    events_.queueNotice(failure);
}

// ---- what the session reports -------------------------------------------------------------------

void EnginePlayer::onStartProgress(int percent) {
    if (intent_ == Intent::Play && !recovery_.reconnecting()) {
        setStatus(ps::Buffering, status_text::buffering(percent));
    }
}

void EnginePlayer::onPlaying() {
    recovery_.playing();
    if (intent_ == Intent::Play) {
        setStatus(ps::Playing, status_text::playing(title()));
    }
}

void EnginePlayer::onRefilling(int percent) {
    if (intent_ == Intent::Play) {
        setStatus(ps::Buffering, status_text::buffering(percent));
    }
}

void EnginePlayer::onOutputGone() {
    if (intent_ == Intent::Play) {
        setStatus(ps::Buffering, status_text::outputGone());
    }
}

void EnginePlayer::onDetailsChanged(bool titleChanged) {
    events_.queueMediaChange();
    if (titleChanged && events_.state() == ps::Playing) {
        setStatus(ps::Playing, status_text::playing(title()));
    }
}

void EnginePlayer::onEnded() {
    ++playsDone_;
    if (playsDone_ < std::max(1, settings_.playCount)) {
        session_->restart();
        return;
    }
    close();
    intent_ = Intent::Stop;
    setStatus(ps::MediaEnded, status_text::ended());
    // "Ended" is shown for itself before the player settles in "stopped".
    events_.postLater([this] {
        if (events_.state() == ps::MediaEnded) {
            setStatus(ps::Stopped, status_text::ended());
        }
    });
}

void EnginePlayer::onBroken(const Break& broken) {
    recovery_.broken(broken, intent_ == Intent::Play);
}

}  // namespace velmora::engine
