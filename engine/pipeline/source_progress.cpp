#include "engine/pipeline/source_progress.h"

namespace velmora::engine {

void SourceProgress::hold(GstPad* pad) {
    std::lock_guard lock(holdMutex_);
    if (released_ || holdProbe_ != 0) {
        return;
    }
    // Blocks the next buffer, in the pad, until the probe is removed.
    holdProbe_ = gst_pad_add_probe(
        pad,
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER |
                                     GST_PAD_PROBE_TYPE_BUFFER_LIST),
        [](GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_OK; }, nullptr, nullptr);
    heldPad_.reset(GST_PAD(gst_object_ref(pad)));
    GstElement* source = GST_PAD_PARENT(pad);
    if (source != nullptr) {
        gst_element_post_message(source,
                                 gst_message_new_element(GST_OBJECT_CAST(source),
                                                         gst_structure_new_empty(kHeldMessage)));
    }
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
