// Losing the connection and getting it back: the session closes, a file
// remembers where it broke off (a time to seek to, or the bytes to skip when
// the server ignores Range), and a new session opens after the policy's delay.
// A paused player does not wait: its next play() opens afresh. What a run of
// reconnects keeps lives in recovery_, reset in one place.
#include <algorithm>

#include "engine/player/playbin_player.h"
#include "engine/texts/status_texts.h"

namespace velmora::engine {
namespace {

namespace ps = playback::play_state;

}  // namespace

std::int64_t PlaybinPlayer::steadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

void PlaybinPlayer::resetRecovery() {
    reconnectTimer_.cancel();
    recovery_ = Recovery(options_.reconnect);
}

void PlaybinPlayer::loseConnection() {
    if (session_ && !isLive()) {
        const std::uint64_t bytes = session_->pipeline->progress().bytes;
        if (session_->skippedBytes > 0 && bytes == session_->skippedBytes) {
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

}  // namespace velmora::engine
