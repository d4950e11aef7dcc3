#pragma once

#include <gst/gst.h>

#include <functional>

#include "engine/runtime/main_context.h"

namespace velmora::engine {

// Hands a bus's messages to a handler on a main context, one per dispatch, in
// the order they were posted: GLib's own bus watch, so no wakeup can run ahead
// of its message. Construct and destroy on the context's thread; the handler
// may destroy the watch.
class BusWatch {
  public:
    using Handler = std::function<void(GstMessage*)>;

    BusWatch(GstBus* bus, const MainContext& context, Handler handler);
    // Stops delivery at once: what is still on the bus is never delivered.
    ~BusWatch();
    BusWatch(const BusWatch&) = delete;
    BusWatch& operator=(const BusWatch&) = delete;

  private:
    GstBus* bus_;
    GSource* source_;
};

}  // namespace velmora::engine
