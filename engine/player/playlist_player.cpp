#include "engine/player/playlist_player.h"

#include <utility>

#include "engine/stations/playlist_parser.h"
#include "engine/texts/status_texts.h"

namespace velmora::engine {
namespace {

namespace ps = playback::play_state;

std::string hostOf(const std::string& uri) { return readMediaAddress(uri).host; }

}  // namespace

PlaylistPlayer::PlaylistPlayer(std::unique_ptr<playback::Player> streamPlayer,
                               const playback::PlayerSettings& settings,
                               const EngineOptions& options)
    : streamPlayer_(std::move(streamPlayer)),
      autoStart_(settings.autoStart),
      post_(options.postToUiThread ? options.postToUiThread : defaultUiPost()),
      // The whole failover gets the time one dead stream takes to be given up.
      budget_(options.stallTimeoutMs),
      events_(post_) {
    streamPlayer_->setListener(this);
}

PlaylistPlayer::~PlaylistPlayer() {
    events_.setListener(nullptr);
    fetch_.reset();
    streamPlayer_->setListener(nullptr);
}

// ---- the interface ---------------------------------------------------------------

void PlaylistPlayer::setURL(std::string_view url) {
    fetch_.reset();
    address_ = readMediaAddress(url);
    if (!failsOver()) {
        // Files, refused and empty addresses are the stream player's alone.
        phase_ = Phase::Streaming;
        stopRequested_ = false;
        streamPlayer_->setURL(url);
        mirrorStreamPlayer();
    } else if (autoStart_) {
        begin();
    } else {
        phase_ = Phase::Idle;
        streamPlayer_->setURL({});
        events_.setStatus(ps::Stopped, status_text::stopped());
    }
    events_.postDelivery();
}

void PlaylistPlayer::play() {
    switch (phase_) {
        case Phase::Streaming:
            stopRequested_ = false;
            streamPlayer_->controls().play();
            mirrorStreamPlayer();
            break;
        case Phase::Idle:
            if (failsOver()) {
                begin();
            }
            break;
        case Phase::Fetching:
            break;
    }
    events_.postDelivery();
}

void PlaylistPlayer::stop() {
    if (phase_ == Phase::Streaming) {
        stopRequested_ = true;
        streamPlayer_->controls().stop();
        mirrorStreamPlayer();
        events_.postDelivery();
        return;
    }
    fetch_.reset();
    phase_ = Phase::Idle;
    if (events_.state() != ps::Undefined) {
        events_.setStatus(ps::Stopped, status_text::stopped());
    }
    events_.postDelivery();
}

void PlaylistPlayer::pause() {
    if (phase_ == Phase::Streaming) {
        streamPlayer_->controls().pause();
        mirrorStreamPlayer();
        events_.postDelivery();
    } else if (phase_ == Phase::Fetching) {
        // Nothing plays yet: play() starts the request over.
        fetch_.reset();
        phase_ = Phase::Idle;
        events_.setStatus(ps::Paused, status_text::paused());
        events_.postDelivery();
    }
}

// ---- resolving and failing over ------------------------------------------------------

PlaylistPlayer::Cause PlaylistPlayer::causeOf(FailureKind kind) {
    return {static_cast<std::int32_t>(kind), 0, failureStatusText(Failure{kind, 0, {}})};
}

void PlaylistPlayer::begin() {
    queue_.clear();
    next_ = 0;
    fetched_.clear();
    triesInPass_ = 0;
    refetched_ = false;
    lastCause_.reset();
    deadline_ = Clock::now() + budget_;
    Candidate own{address_.uri, {}, 0};
    if (looksLikePlaylistAddress(own.uri)) {
        fetch(std::move(own), false);
    } else {
        stream(std::move(own));
    }
}

bool PlaylistPlayer::canExpand(const Candidate& candidate) const {
    return candidate.depth < kMaxPlaylistDepth && !fetched_.contains(candidate.uri);
}

void PlaylistPlayer::fetch(Candidate candidate, bool fromStream) {
    // Whatever played before falls silent while the playlist is read.
    streamPlayer_->setURL({});
    phase_ = Phase::Fetching;
    fetched_.insert(candidate.uri);
    events_.setStatus(ps::Transitioning, status_text::connecting(hostOf(candidate.uri)));
    const std::string uri = candidate.uri;
    fetch_ = std::make_unique<PlaylistFetch>(
        uri, post_, fetchWorker_ ? *fetchWorker_ : fetchWorker_.emplace(),
        [this, candidate = std::move(candidate), fromStream](FetchedBody fetched) {
            onFetched(candidate, fromStream, std::move(fetched));
            events_.deliver();
        });
}

void PlaylistPlayer::onFetched(const Candidate& candidate, bool fromStream, FetchedBody fetched) {
    fetch_.reset();
    fetched_.insert(fetched.finalUri);
    if (fetched.outcome == FetchedBody::Outcome::TimedOut) {
        lastCause_ = causeOf(FailureKind::TimedOut);
        tryNext();
        return;
    }
    const Playlist playlist = fetched.outcome == FetchedBody::Outcome::Complete
                                  ? parsePlaylist(fetched.body, fetched.finalUri)
                                  : Playlist{};
    if (playlist.kind != Playlist::Kind::Stations) {
        if (fromStream) {
            tryNext();  // the stream player has said why it cannot play this
        } else {
            // Audio, HLS or an error answer behind a playlist's name: the
            // stream player plays it or says what is wrong with it.
            Candidate plain = candidate;
            plain.depth = kMaxPlaylistDepth;
            stream(std::move(plain));
        }
        return;
    }
    if (playlist.entries.empty()) {
        lastCause_ = causeOf(playlist.refusedEntries > 0 ? FailureKind::UnsupportedAddress
                                                         : FailureKind::NotAudio);
    }
    std::vector<Candidate> entries;
    for (const PlaylistEntry& entry : playlist.entries) {
        entries.push_back(
            {entry.uri, entry.title.empty() ? candidate.title : entry.title, candidate.depth + 1});
    }
    queue_.insert(queue_.begin() + static_cast<std::ptrdiff_t>(next_), entries.begin(),
                  entries.end());
    tryNext();
}

void PlaylistPlayer::stream(Candidate candidate) {
    phase_ = Phase::Streaming;
    current_ = std::move(candidate);
    awaitingNotice_ = false;
    stopRequested_ = false;
    streamPlayer_->setURL(current_.uri);
    if (!autoStart_) {
        streamPlayer_->controls().play();
    }
    mirrorStreamPlayer();
}

void PlaylistPlayer::tryNext() {
    const bool overBudget = Clock::now() > deadline_;
    if (next_ < queue_.size() && triesInPass_ < kMaxTriesPerPass &&
        (triesInPass_ == 0 || !overBudget)) {
        Candidate candidate = queue_[next_++];
        ++triesInPass_;
        if (looksLikePlaylistAddress(candidate.uri) && canExpand(candidate)) {
            fetch(std::move(candidate), false);
        } else {
            stream(std::move(candidate));
        }
        return;
    }
    // Fetched again only when entries were read and tried: a list that could
    // not be read, or named nothing playable, will not do better a second time.
    if (looksLikePlaylistAddress(address_.uri) && !refetched_ && triesInPass_ > 0 && !overBudget) {
        refetched_ = true;
        queue_.clear();
        next_ = 0;
        fetched_.clear();
        triesInPass_ = 0;
        fetch({address_.uri, {}, 0}, false);
        return;
    }
    giveUp();
}

void PlaylistPlayer::giveUp() {
    phase_ = Phase::Idle;
    const Cause cause = lastCause_.value_or(causeOf(FailureKind::NotAudio));
    events_.setStatus(ps::Stopped, cause.description);
    events_.queueWarning(cause.warningType, cause.param, cause.description);
}

// ---- the stream player's events --------------------------------------------------------

void PlaylistPlayer::onStatusChange() {
    if (phase_ != Phase::Streaming) {
        return;
    }
    const std::int32_t state = streamPlayer_->playState();
    const bool unprompted =
        state == ps::Stopped && streamState_ != ps::MediaEnded && !stopRequested_ && failsOver();
    streamState_ = state;
    if (unprompted) {
        // A failure: its notice comes next and decides what is shown. Should
        // none come, the stop is shown as it is.
        awaitingNotice_ = true;
        events_.postLater([this] {
            if (std::exchange(awaitingNotice_, false)) {
                mirrorStreamPlayer();
                events_.deliver();
            }
        });
        return;
    }
    mirrorStreamPlayer();
    events_.deliver();
}

void PlaylistPlayer::onWarning(std::int32_t warningType, std::int32_t param,
                               const std::string& description) {
    if (phase_ != Phase::Streaming) {
        return;
    }
    awaitingNotice_ = false;
    const Cause cause{warningType, param, description};
    if (!failsOver()) {
        mirrorStreamPlayer();
        events_.queueWarning(cause.warningType, cause.param, cause.description);
    } else {
        lastCause_ = cause;
        if (warningType == static_cast<std::int32_t>(FailureKind::NotAudio) &&
            canExpand(current_)) {
            fetch(current_, true);
        } else {
            tryNext();
        }
    }
    events_.deliver();
}

playback::MediaDetails PlaylistPlayer::mediaDetails() const {
    playback::MediaDetails details = streamPlayer_->mediaDetails();
    if (details.stationName.empty()) {
        details.stationName = current_.title;
    }
    return details;
}

void PlaylistPlayer::onMediaChange() {
    events_.queueMediaChange();
    events_.deliver();
}

void PlaylistPlayer::onMediaError() {
    if (phase_ != Phase::Streaming) {
        return;
    }
    // The player itself is at fault: another entry would fail the same way.
    awaitingNotice_ = false;
    mirrorStreamPlayer();
    events_.queueMediaError();
    events_.deliver();
}

void PlaylistPlayer::mirrorStreamPlayer() {
    const std::int32_t state = streamPlayer_->playState();
    streamState_ = state;
    std::string status = streamPlayer_->status();
    // The playlist's name for the station stands in until the stream names itself.
    if (state == ps::Playing && !current_.title.empty() && status == status_text::playing({})) {
        status = status_text::playing(current_.title);
    }
    events_.setStatus(state, std::move(status));
}

}  // namespace velmora::engine
