#include "engine/player/reconnect_policy.h"

#include <algorithm>

namespace velmora::engine {

void ReconnectPolicy::playing(std::int64_t nowMs) {
    if (!playingSinceMs_) {
        playingSinceMs_ = nowMs;
    }
}

std::optional<int> ReconnectPolicy::nextDelayMs(std::int64_t nowMs) {
    if (playingSinceMs_ && nowMs - *playingSinceMs_ >= limits_.steadyPlayMs) {
        attempt_ = 0;
        backoffAttempt_ = 0;
        firstLossMs_.reset();
    }
    if (!firstLossMs_) {
        firstLossMs_ = nowMs;
        lostWhilePlaying_ = playingSinceMs_.has_value();
    }
    playingSinceMs_.reset();
    std::int64_t delayMs = limits_.firstDelayMs;
    if (lostWhilePlaying_ && nowMs - *firstLossMs_ < limits_.quickForMs) {
        delayMs = std::min(limits_.quickDelayMs, limits_.firstDelayMs);
    } else {
        for (int i = 0; i < backoffAttempt_ && delayMs < limits_.maxDelayMs; ++i) {
            delayMs *= 2;
        }
        delayMs = std::min<std::int64_t>(delayMs, limits_.maxDelayMs);
        ++backoffAttempt_;
    }
    if (nowMs - *firstLossMs_ + delayMs > limits_.giveUpAfterMs) {
        return std::nullopt;
    }
    ++attempt_;
    return static_cast<int>(delayMs);
}

}  // namespace velmora::engine
