#pragma once

#include <gst/gst.h>

#include <functional>
#include <memory>

#include "engine/runtime/gst_handles.h"
#include "engine/runtime/ui_thread.h"

namespace velmora::engine {

// Delivers a bus's messages on the user-interface thread, whatever the event
// dispatcher: a sync handler, on the posting thread, posts each message to the
// user-interface thread inside the task that hands it to the handler, so the
// dispatcher's own queue is the only one and no wakeup can run ahead of its
// message. Construct and destroy on the user-interface thread; the handler may
// destroy the bridge.
class BusBridge {
  public:
    using Handler = std::function<void(GstMessage*)>;

    BusBridge(GstBus* bus, UiPost post, Handler handler);
    // Stops delivery: messages already posted, or posted later, are dropped.
    ~BusBridge();
    BusBridge(const BusBridge&) = delete;
    BusBridge& operator=(const BusBridge&) = delete;

    struct Delivery;  // what the posted tasks need

  private:
    GstPtr<GstBus> bus_;
    std::shared_ptr<Delivery> delivery_;
};

}  // namespace velmora::engine
