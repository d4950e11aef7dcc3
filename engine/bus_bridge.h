#pragma once

#include <gst/gst.h>

#include <functional>
#include <memory>

#include "ui_thread.h"

namespace velmora::engine {

// Delivers a bus's messages on the user-interface thread, whatever the event
// dispatcher: a sync handler, on the posting thread, queues the message and
// posts one wakeup; the wakeup takes every queued message, in order, and hands
// each to the handler. Construct and destroy on the
// user-interface thread; the handler may destroy the bridge.
class BusBridge {
  public:
    using Handler = std::function<void(GstMessage*)>;

    BusBridge(GstBus* bus, UiPost post, Handler handler);
    // Stops delivery: messages still queued, or posted later, are dropped.
    ~BusBridge();
    BusBridge(const BusBridge&) = delete;
    BusBridge& operator=(const BusBridge&) = delete;

    struct Gate;   // what the sync handler needs, owned by the bus
    struct Drain;  // what the wakeup needs, owned by the bridge

  private:
    std::shared_ptr<Gate> gate_;
    std::shared_ptr<Drain> drain_;
};

}  // namespace velmora::engine
