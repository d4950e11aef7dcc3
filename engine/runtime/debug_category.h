#pragma once

#include <gst/gst.h>

namespace velmora::engine {

// The engine's GStreamer debug category, "velmora", for GST_CAT_DEBUG and its
// kin: GST_DEBUG=velmora:5 shows the engine's own decisions in line with the
// pipeline's. Created on first use, which must come after gst_init.
inline GstDebugCategory* debugCategory() {
    static GstDebugCategory* const category = [] {
        GstDebugCategory* created = nullptr;
        GST_DEBUG_CATEGORY_INIT(created, "velmora", 0, "Velmora playback engine");
        return created;
    }();
    return category;
}

}  // namespace velmora::engine
