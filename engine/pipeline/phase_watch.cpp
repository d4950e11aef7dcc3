#include "engine/pipeline/phase_watch.h"

#include <algorithm>
#include <utility>

namespace velmora::engine {
namespace {

// This much sound ahead of the listener means the network keeps up, whether
// or not bytes moved lately: a server faster than real time fills every
// buffer and then waits for room, sometimes for many seconds.
constexpr std::int64_t kWellSuppliedNs = 1'000'000'000;
// A playing stream is looked at this seldom at most: once a second is what a
// player needs, and a look wakes the user-interface thread. Within the
// deadline it is a third of it, so that progress is never noted late.
constexpr int kLongestLookMs = 1000;

}  // namespace

int PhaseWatch::nextLookMs(const Look& look) const {
    if (phase_ != Phase::Playing || !paced_ || !look.wanted ||
        look.aheadNs == NetworkHealth::kUnknownNs) {
        return kSamplePeriodMs;
    }
    // Half of what may still play before the sound counts as running dry.
    const std::int64_t spareMs = (look.aheadNs - NetworkHealth::kStarvingNs) / 2'000'000;
    const int longest = std::max(kSamplePeriodMs, std::min(kLongestLookMs, timeoutMs_ / 3));
    return static_cast<int>(std::clamp<std::int64_t>(spareMs, kSamplePeriodMs, longest));
}

PhaseWatch::PhaseWatch(Timers& timers, int timeoutMs, bool paced,
                       std::function<void(Phase)> onExpired)
    : timers_(timers),
      timeoutMs_(timeoutMs),
      paced_(paced),
      onExpired_(std::move(onExpired)),
      deadline_(timers) {
    arm();
}

void PhaseWatch::enter(Phase phase) {
    phase_ = phase;
    arm();
}

void PhaseWatch::arm() {
    lastProgressMs_ = timers_.nowMs();
    if (!held_) {
        deadline_.arm(timeoutMs_, [this] { check(); });
    }
}

void PhaseWatch::progress() { lastProgressMs_ = timers_.nowMs(); }

void PhaseWatch::check() {
    // Progress only notes the time: the deadline moves when it is reached,
    // not on every sample.
    const std::int64_t remainingMs = lastProgressMs_ + timeoutMs_ - timers_.nowMs();
    if (remainingMs > 0) {
        deadline_.arm(static_cast<int>(remainingMs), [this] { check(); });
        return;
    }
    onExpired_(phase());
}

void PhaseWatch::playing() {
    if (phase_ == Phase::Connecting || phase_ == Phase::Starting) {
        enter(Phase::Playing);
    }
}

PhaseWatch::Supply PhaseWatch::look(const Look& look) {
    const bool moved = look.bytes != bytesAtLastLook_;
    bytesAtLastLook_ = look.bytes;
    // A finished source plays out what it sent, but only sound already heard
    // says that it will: before that, its end must come within the deadline.
    const bool heard = phase_ == Phase::Playing;
    if (!look.wanted || (look.sourceFinished && heard)) {
        held_ = true;
        deadline_.disarm();
        if (look.sourceFinished && paced_) {
            // Nothing more will come: what is there plays out, then the end.
            return health_.supply(look);
        }
        return Supply::Unchanged;
    }
    if (held_) {
        held_ = false;
        arm();
    }
    switch (phase_) {
        case Phase::Connecting:
            if (look.bytes > 0) {
                enter(Phase::Starting);
            }
            return Supply::Unchanged;
        case Phase::Starting:
            if (moved) {
                progress();
            }
            return Supply::Unchanged;
        case Phase::Playing:
        case Phase::Refilling:
            break;
    }
    const Supply supply = paced_ ? health_.supply(look) : Supply::Unchanged;
    switch (supply) {
        case Supply::RanDry:
            percentAtLastLook_ = 0;
            arm();  // the refill's own deadline
            break;
        case Supply::Refilled:
            arm();
            break;
        case Supply::Refilling:
            if (health_.refillPercent() > percentAtLastLook_) {
                percentAtLastLook_ = health_.refillPercent();
                progress();
            }
            break;
        case Supply::Unchanged:
            if (moved ||
                (look.aheadNs != NetworkHealth::kUnknownNs && look.aheadNs >= kWellSuppliedNs)) {
                progress();
            }
            break;
    }
    return supply;
}

Failure deadlineFailure(bool played) {
    return {played ? FailureKind::ConnectionLost : FailureKind::TimedOut, 0, {}};
}

}  // namespace velmora::engine
