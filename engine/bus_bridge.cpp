#include "bus_bridge.h"

#include <atomic>
#include <utility>

#include "gst_handles.h"

namespace velmora::engine {

struct BusBridge::Gate {
    UiPost post;
    std::weak_ptr<Drain> drain;
    std::atomic<bool> wakeupPending{false};
    std::atomic<bool> closed{false};
};

struct BusBridge::Drain {
    GstPtr<GstBus> bus;
    Handler handler;
    std::shared_ptr<Gate> gate;

    void run() {
        // Cleared first: a message posted while these are handled wakes us again.
        gate->wakeupPending = false;
        while (!gate->closed) {
            MessagePtr message(gst_bus_pop(bus.get()));
            if (!message) {
                break;
            }
            handler(message.get());
        }
    }
};

namespace {

GstBusSyncReply onPosted(GstBus*, GstMessage*, gpointer data) {
    const auto& gate = *static_cast<std::shared_ptr<BusBridge::Gate>*>(data);
    if (gate->closed) {
        return GST_BUS_DROP;
    }
    if (!gate->wakeupPending.exchange(true)) {
        // Only the weak pointer travels: it is locked on the user-interface thread.
        gate->post([drain = gate->drain] {
            if (auto alive = drain.lock()) {
                alive->run();
            }
        });
    }
    return GST_BUS_PASS;
}

}  // namespace

BusBridge::BusBridge(GstBus* bus, UiPost post, Handler handler)
    : gate_(std::make_shared<Gate>()), drain_(std::make_shared<Drain>()) {
    gate_->post = std::move(post);
    gate_->drain = drain_;
    drain_->bus.reset(GST_BUS(gst_object_ref(bus)));
    drain_->handler = std::move(handler);
    drain_->gate = gate_;
    // The bus keeps the gate until it is finalized, so a streaming thread that
    // is inside the handler while we close never sees freed memory.
    gst_bus_set_sync_handler(
        bus, onPosted, new std::shared_ptr<Gate>(gate_),
        [](gpointer data) { delete static_cast<std::shared_ptr<Gate>*>(data); });
    // Messages posted before the handler was set need a wakeup of their own.
    if (gst_bus_have_pending(bus)) {
        onPosted(bus, nullptr, &gate_);
    }
}

BusBridge::~BusBridge() {
    gate_->closed = true;
    gst_bus_set_flushing(drain_->bus.get(), TRUE);
}

}  // namespace velmora::engine
