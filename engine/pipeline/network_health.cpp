#include "engine/pipeline/network_health.h"

#include <algorithm>
#include <utility>

namespace velmora::engine {
namespace {

constexpr std::int64_t kMillisecondNs = 1000000;
// After running dry, playing resumes with this much ahead, doubled each time.
constexpr std::int64_t kFirstRefillNs = 1000 * kMillisecondNs;
constexpr std::int64_t kMaxRefillNs = 3000 * kMillisecondNs;

}  // namespace

NetworkHealth::Supply NetworkHealth::supply(const Look& look) {
    if (look.sourceFinished) {
        // Nothing more will come: play out what is there, then the end.
        if (std::exchange(refilling_, false)) {
            return Supply::Refilled;
        }
        return Supply::Unchanged;
    }
    if (look.aheadNs == kUnknownNs) {
        return Supply::Unchanged;
    }
    if (!refilling_) {
        if (look.aheadNs >= kStarvingNs) {
            return Supply::Unchanged;
        }
        refilling_ = true;
        refillTargetNs_ =
            std::clamp<std::int64_t>(refillTargetNs_ * 2, kFirstRefillNs, kMaxRefillNs);
        refillPercent_ = 0;
        return Supply::RanDry;
    }
    if (look.aheadNs >= refillTargetNs_) {
        refilling_ = false;
        return Supply::Refilled;
    }
    refillPercent_ =
        static_cast<int>(std::max<std::int64_t>(0, look.aheadNs) * 100 / refillTargetNs_);
    return Supply::Refilling;
}

}  // namespace velmora::engine
