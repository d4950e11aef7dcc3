#include "engine/pipeline/source_progress.h"

namespace velmora::engine {

void SourceProgress::holdInPad(GstPad* pad, const std::shared_ptr<SourceProgress>& progress) {
    std::lock_guard lock(progress->holdMutex_);
    if (progress->released_ || progress->holdProbe_ != 0) {
        return;
    }
    progress->holdProbe_ = gst_pad_add_probe(
        pad,
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER |
                                     GST_PAD_PROBE_TYPE_BUFFER_LIST),
        [](GstPad* blocked, GstPadProbeInfo*, gpointer data) {
            SourceProgress& held = **static_cast<std::shared_ptr<SourceProgress>*>(data);
            if (!held.typed.load() || held.bytes.load() < held.holdFrom.load()) {
                return GST_PAD_PROBE_PASS;
            }
            GstElement* source = GST_PAD_PARENT(blocked);
            if (!held.heldPosted_.exchange(true) && source != nullptr) {
                gst_element_post_message(
                    source, gst_message_new_element(GST_OBJECT_CAST(source),
                                                    gst_structure_new_empty(kHeldMessage)));
            }
            return GST_PAD_PROBE_OK;  // blocks until the probe is removed
        },
        new std::shared_ptr<SourceProgress>(progress),
        [](gpointer data) { delete static_cast<std::shared_ptr<SourceProgress>*>(data); });
    progress->heldPad_.reset(GST_PAD(gst_object_ref(pad)));
}

void SourceProgress::release() {
    std::lock_guard lock(holdMutex_);
    released_ = true;
    if (holdProbe_ != 0) {
        gst_pad_remove_probe(heldPad_.get(), holdProbe_);
        holdProbe_ = 0;
        heldPad_.reset();
    }
}

void SourceProgress::gatherReads(bool gather) {
    {
        std::lock_guard lock(gatherMutex_);
        if (gather_ == gather) {
            return;
        }
        gather_ = gather;
    }
    gatherEnd_.notify_all();
}

void SourceProgress::waitToGather(std::uint64_t size, std::uint64_t blockSize) {
    if (size >= blockSize) {
        return;  // more was waiting: the connection is behind, not ahead
    }
    std::unique_lock lock(gatherMutex_);
    gatherEnd_.wait_for(lock, kGatherWait, [this] { return !gather_; });
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
