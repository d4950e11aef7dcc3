#include "engine/pipeline/source_progress.h"

namespace velmora::engine {

void SourceProgress::waitForPreroll() {
    std::unique_lock lock(mutex_);
    released_.wait_for(lock, kPrerollWait, [this] { return releasedFlag_; });
    releasedFlag_ = true;  // a pipeline that cannot preroll on this much never waits again
}

void SourceProgress::release() {
    {
        std::lock_guard lock(mutex_);
        releasedFlag_ = true;
    }
    released_.notify_all();
}

}  // namespace velmora::engine
