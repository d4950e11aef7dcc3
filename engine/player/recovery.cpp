#include "engine/player/recovery.h"

#include <algorithm>
#include <utility>

#include "engine/stations/playlist_parser.h"

namespace velmora::engine {
namespace {

Step stepOf(Step::Kind kind, const Candidate& candidate = {}, const Opening& opening = {}) {
    Step step;
    step.kind = kind;
    step.candidate = candidate;
    step.opening = opening;
    return step;
}

}  // namespace

Recovery::Recovery(Timers& timers, ReconnectLimits limits, int failoverBudgetMs, Act act)
    : timers_(timers),
      failoverBudgetMs_(failoverBudgetMs),
      act_(std::move(act)),
      policy_(limits),
      retry_(timers),
      budget_(timers) {}

// ---- the request -----------------------------------------------------------------------

void Recovery::begin(const MediaAddress& address) {
    reset();
    address_ = address;
    candidates_.startPass();
    refetched_ = false;
    lastCause_.reset();
    failoverEndsAtMs_ = timers_.nowMs() + failoverBudgetMs_;
    Candidate own{address.uri, {}, 0};
    if (failsOver() && looksLikePlaylistAddress(own.uri)) {
        fetch(std::move(own), false);
    } else {
        open(std::move(own));
    }
}

void Recovery::reset() {
    retry_.disarm();
    budget_.disarm();
    policy_.reset();
    reconnecting_ = false;
    resumeAtNs_ = -1;
    rangeIgnored_ = false;
    skipBytes_ = 0;
}

void Recovery::hold() {
    // The next play opens afresh; nothing to wait for until then.
    retry_.disarm();
    budget_.disarm();
    reconnecting_ = false;
}

void Recovery::resume() {
    Step step = stepOf(Step::Kind::Open, current_, openingOf(current_));
    act_(step);
}

void Recovery::playing() {
    reconnecting_ = false;
    resumeAtNs_ = -1;
    budget_.disarm();
    policy_.playing(timers_.nowMs());
}

// ---- a lost connection -------------------------------------------------------------------

bool Recovery::isLoss(const Break& broken) const {
    switch (broken.cause) {
        case Break::Cause::Deadline:
            return broken.played || reconnecting_;
        case Break::Cause::StreamEnded:
        case Break::Cause::NetworkBack:
            return true;
        case Break::Cause::NothingPlayed:
            return reconnecting_;
        case Break::Cause::Error:
            // Once data flowed, a loss is the network's doing. Before that,
            // the address itself is at fault.
            return broken.networkLoss && (broken.hadData || reconnecting_);
    }
    return false;
}

void Recovery::broken(const Break& broken, bool wanted) {
    if (isLoss(broken)) {
        lose(broken, wanted);
    } else {
        moveOn(broken.failure);
    }
}

void Recovery::lose(const Break& broken, bool wanted) {
    if (!broken.live) {
        if (broken.skippedBytes > 0 && broken.bytes == broken.skippedBytes) {
            // Started over and cut at the same byte: all there is was played.
            giveUp(Failure{FailureKind::ConnectionLost, 0, {}});
            return;
        }
        if (broken.rangeIgnored) {
            rangeIgnored_ = true;
            resumeAtNs_ = -1;
        }
        if (rangeIgnored_) {
            skipBytes_ = std::max(skipBytes_, broken.bytes);
        } else if (broken.played && broken.positionNs > 0) {
            resumeAtNs_ = broken.positionNs;
        }
    }
    if (!wanted) {
        act_(stepOf(Step::Kind::Hold));
        return;
    }
    reconnecting_ = true;
    if (broken.cause == Break::Cause::NetworkBack) {
        networkBack();
        return;
    }
    const std::int64_t nowMs = timers_.nowMs();
    const std::optional<int> delayMs = policy_.nextDelayMs(nowMs);
    if (!delayMs) {
        giveUp(Failure{FailureKind::ReconnectsExhausted, 0, {}});
        return;
    }
    if (!budget_.armed()) {
        const auto leftMs = std::max<std::int64_t>(0, policy_.giveUpAtMs() - nowMs);
        budget_.arm(static_cast<int>(leftMs), [this] {
            giveUp(Failure{FailureKind::ReconnectsExhausted, 0, {}});
        });
    }
    retry_.arm(*delayMs, [this] { reconnectNow(); });
    Step step = stepOf(Step::Kind::Wait);
    step.attempt = policy_.attempt();
    act_(step);
}

void Recovery::networkBack() {
    if (!reconnecting_) {
        return;
    }
    // Not an attempt of the backoff: the network that failed the old
    // connection, if any did, is back, and waiting on would only add silence.
    retry_.disarm();
    reconnectNow();
}

void Recovery::reconnectNow() {
    Step step = stepOf(Step::Kind::Open, current_, openingOf(current_));
    // Never the first opening's "connecting": the stream is being mended.
    step.attempt = std::max(1, policy_.attempt());
    act_(step);
}

void Recovery::giveUp(Failure failure) {
    reset();
    Step step = stepOf(Step::Kind::GiveUp);
    step.failure = std::move(failure);
    act_(step);
}

// ---- moving on to the next candidate --------------------------------------------------------

void Recovery::moveOn(const Failure& cause) {
    // A file, or the player itself at fault: another entry would fare no better.
    if (!failsOver() || noticeFor(cause.kind) == Notice::MediaError) {
        giveUp(cause);
        return;
    }
    lastCause_ = cause;
    if (cause.kind == FailureKind::NotAudio && candidates_.canExpand(current_)) {
        fetch(current_, true);
        return;
    }
    tryNext();
}

void Recovery::tryNext() {
    const bool overBudget = timers_.nowMs() > failoverEndsAtMs_;
    if (candidates_.triesInPass() == 0 || !overBudget) {
        if (std::optional<Candidate> next = candidates_.takeNext()) {
            if (looksLikePlaylistAddress(next->uri) && candidates_.canExpand(*next)) {
                fetch(std::move(*next), false);
            } else {
                open(std::move(*next));
            }
            return;
        }
    }
    // Fetched again only when entries were read and tried: stations rotate
    // tokenised addresses, but a list that could not be read, or named
    // nothing playable, will not do better a second time.
    if (looksLikePlaylistAddress(address_.uri) && !refetched_ && candidates_.triesInPass() > 0 &&
        !overBudget) {
        refetched_ = true;
        candidates_.startPass();
        fetch(Candidate{address_.uri, {}, 0}, false);
        return;
    }
    giveUp(lastCause_.value_or(Failure{FailureKind::NotAudio, 0, {}}));
}

void Recovery::fetched(const Candidate& candidate, bool fromStream, const FetchedBody& body) {
    candidates_.markRead(body.finalUri);
    if (body.outcome == FetchedBody::Outcome::TimedOut) {
        lastCause_ = Failure{FailureKind::TimedOut, 0, {}};
        tryNext();
        return;
    }
    const Playlist playlist = body.outcome == FetchedBody::Outcome::Complete
                                  ? parsePlaylist(body.body, body.finalUri)
                                  : Playlist{};
    if (playlist.kind != Playlist::Kind::Stations) {
        if (fromStream) {
            tryNext();  // the stream has said why it cannot play
        } else {
            // Audio, HLS or an error answer behind a playlist's name: the
            // pipeline plays it or says what is wrong with it.
            Candidate plain = candidate;
            plain.depth = CandidateList::kMaxPlaylistDepth;
            open(std::move(plain));
        }
        return;
    }
    if (playlist.entries.empty()) {
        lastCause_ = Failure{
            playlist.refusedEntries > 0 ? FailureKind::UnsupportedAddress : FailureKind::NotAudio,
            0,
            {}};
    }
    std::vector<Candidate> entries;
    for (const PlaylistEntry& entry : playlist.entries) {
        entries.push_back(
            {entry.uri, entry.title.empty() ? candidate.title : entry.title, candidate.depth + 1});
    }
    candidates_.insertNext(entries);
    tryNext();
}

void Recovery::open(Candidate candidate) {
    // A new address starts with nothing lost.
    reset();
    current_ = std::move(candidate);
    act_(stepOf(Step::Kind::Open, current_, openingOf(current_)));
}

void Recovery::fetch(Candidate candidate, bool fromStream) {
    reset();
    candidates_.markRead(candidate.uri);
    Step step = stepOf(Step::Kind::Fetch, std::move(candidate));
    step.fromStream = fromStream;
    act_(step);
}

Opening Recovery::openingOf(const Candidate& candidate) const {
    Opening opening;
    opening.uri = candidate.uri;
    opening.network = address_.kind == MediaAddress::Kind::Network;
    opening.seekOnPrerollNs = resumeAtNs_;
    opening.skipBytes = skipBytes_;
    opening.diagnose = !reconnecting_;
    return opening;
}

}  // namespace velmora::engine
