#include "engine/runtime/bus_watch.h"

#include <utility>

namespace velmora::engine {
namespace {

gboolean onMessage(GstBus*, GstMessage* message, gpointer data) {
    // The source keeps its callback data alive while it dispatches, so the
    // handler may destroy the watch.
    (*static_cast<BusWatch::Handler*>(data))(message);
    return G_SOURCE_CONTINUE;
}

}  // namespace

BusWatch::BusWatch(GstBus* bus, const MainContext& context, Handler handler)
    : bus_(GST_BUS(gst_object_ref(bus))), source_(gst_bus_create_watch(bus)) {
    g_source_set_callback(source_, G_SOURCE_FUNC(onMessage), new Handler(std::move(handler)),
                          [](gpointer data) { delete static_cast<Handler*>(data); });
    g_source_attach(source_, context.get());
}

BusWatch::~BusWatch() {
    g_source_destroy(source_);
    g_source_unref(source_);
    // Streaming threads may still post while the pipeline winds down
    // elsewhere: a flushing bus drops their messages instead of keeping them.
    gst_bus_set_flushing(bus_, TRUE);
    gst_object_unref(bus_);
}

}  // namespace velmora::engine
