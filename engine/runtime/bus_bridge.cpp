#include "engine/runtime/bus_bridge.h"

#include <utility>

namespace velmora::engine {

struct BusBridge::Delivery {
    Handler handler;
};

namespace {

// What the sync handler needs, owned by the bus: a streaming thread may be
// inside the handler while the bridge goes away.
struct Gate {
    UiPost post;
    std::weak_ptr<BusBridge::Delivery> delivery;

    void deliverLater(MessagePtr message) const {
        // Only the weak pointer travels: it is locked on the user-interface
        // thread, and kept locked while the handler runs, which may destroy
        // the bridge.
        post([weak = delivery,
              message = std::shared_ptr<GstMessage>(message.release(), GstMessageUnref{})] {
            if (auto alive = weak.lock()) {
                alive->handler(message.get());
            }
        });
    }
};

// A sync handler that drops a message owns the bus's reference to it: the
// reference travels with the posted task, or is released here.
GstBusSyncReply onPosted(GstBus*, GstMessage* message, gpointer data) {
    const auto& gate = *static_cast<const Gate*>(data);
    MessagePtr owned(message);
    if (!gate.delivery.expired()) {
        gate.deliverLater(std::move(owned));
    }
    return GST_BUS_DROP;
}

}  // namespace

BusBridge::BusBridge(GstBus* bus, UiPost post, Handler handler)
    : bus_(GST_BUS(gst_object_ref(bus))), delivery_(std::make_shared<Delivery>()) {
    delivery_->handler = std::move(handler);
    auto* gate = new Gate{std::move(post), delivery_};
    gst_bus_set_sync_handler(bus, onPosted, gate,
                             [](gpointer data) { delete static_cast<Gate*>(data); });
    // Messages posted before the handler was set wait on the bus itself.
    while (MessagePtr message{gst_bus_pop(bus)}) {
        gate->deliverLater(std::move(message));
    }
}

BusBridge::~BusBridge() {
    // A flushing bus drops what is posted from now on; what is already posted
    // finds the delivery gone and only lets its message go.
    gst_bus_set_flushing(bus_.get(), TRUE);
    delivery_.reset();
}

}  // namespace velmora::engine
