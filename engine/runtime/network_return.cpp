#include "engine/runtime/network_return.h"

#include <algorithm>
#include <utility>

namespace velmora::engine {

NetworkReturn::NetworkReturn(MainContext& context, std::function<void()> onBack)
    : timers_(context),
      onBack_(std::move(onBack)),
      settled_(context),
      sleep_(context, [this] { report(); }),
      monitor_(context, [this] { report(); }) {}

void NetworkReturn::report() {
    const std::int64_t nowMs = timers_.nowMs();
    if (!settled_.armed()) {
        burstStartMs_ = nowMs;
    }
    const std::int64_t leftMs = burstStartMs_ + kLongestWaitMs - nowMs;
    settled_.arm(static_cast<int>(std::clamp<std::int64_t>(leftMs, 0, kQuietMs)),
                 [this] { onBack_(); });
}

}  // namespace velmora::engine
