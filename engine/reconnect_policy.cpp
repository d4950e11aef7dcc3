#include "reconnect_policy.h"

#include <algorithm>

namespace velmora::engine {

std::optional<int> ReconnectPolicy::nextDelayMs(std::int64_t sinceLossMs) {
    std::int64_t delayMs = limits_.firstDelayMs;
    for (int i = 0; i < attempt_ && delayMs < limits_.maxDelayMs; ++i) {
        delayMs *= 2;
    }
    delayMs = std::min<std::int64_t>(delayMs, limits_.maxDelayMs);
    if (sinceLossMs + delayMs > limits_.giveUpAfterMs) {
        return std::nullopt;
    }
    ++attempt_;
    return static_cast<int>(delayMs);
}

}  // namespace velmora::engine
