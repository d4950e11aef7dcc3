#pragma once

// Owning wrappers for the GLib and GStreamer references the engine keeps.
// Each alias frees its object with the matching unref; a null pointer is fine.

#include <gst/gst.h>

#include <memory>

namespace velmora::engine {

struct GstObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct GstMessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
struct GstCapsUnref {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
struct GstTagListUnref {
    void operator()(GstTagList* tags) const { gst_tag_list_unref(tags); }
};
struct GstEventUnref {
    void operator()(GstEvent* event) const { gst_event_unref(event); }
};
struct GstStructureFree {
    void operator()(GstStructure* structure) const { gst_structure_free(structure); }
};

template <typename T>
using GstPtr = std::unique_ptr<T, GstObjectUnref>;
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;
using MessagePtr = std::unique_ptr<GstMessage, GstMessageUnref>;
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;
using GCharPtr = std::unique_ptr<gchar, GFree>;
using TagListPtr = std::unique_ptr<GstTagList, GstTagListUnref>;
using CapsPtr = std::unique_ptr<GstCaps, GstCapsUnref>;
using EventPtr = std::unique_ptr<GstEvent, GstEventUnref>;
using StructurePtr = std::unique_ptr<GstStructure, GstStructureFree>;

}  // namespace velmora::engine
