// The watchdog's look at a network stream, every kWatchdogPeriodMs while a
// session is open: a stall ends the opening (a failure before sound, a lost
// connection after), and sound running dry pauses the pipeline until the
// buffer has refilled. The judging is NetworkHealth's; this feeds it the
// pipeline's facts and acts on its answer.
#include "engine/player/playbin_player.h"
#include "engine/texts/status_texts.h"

namespace velmora::engine {
namespace {

namespace ps = playback::play_state;

}  // namespace

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
    if (!session_->played() || intent_ != Intent::Play || !options_.audioOutput.paced) {
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

}  // namespace velmora::engine
