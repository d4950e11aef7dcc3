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

std::uint64_t probedBytes(GstPadProbeInfo* info) {
    if ((info->type & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
        return gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
    }
    if ((info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) != 0) {
        return gst_buffer_list_calculate_size(GST_PAD_PROBE_INFO_BUFFER_LIST(info));
    }
    return 0;
}

}  // namespace velmora::engine
