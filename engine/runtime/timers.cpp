#include "engine/runtime/timers.h"

#include <utility>

namespace velmora::engine {

void Deadline::arm(int delayMs, std::function<void()> onExpired) {
    shot_ = timers_.start(delayMs, [this, onExpired = std::move(onExpired)] {
        // Disarmed first: the callback may arm it again.
        auto shot = std::move(shot_);
        onExpired();
    });
}

}  // namespace velmora::engine
