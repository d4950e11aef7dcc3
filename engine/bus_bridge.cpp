#include "bus_bridge.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <utility>

#include "gst_handles.h"

namespace velmora::engine {

// The sync handler runs before the bus queues the message, so a wakeup that
// popped the bus could run ahead of the message it was posted for and miss it
// for good. The handler therefore queues the message itself, and clears the
// pending wakeup only under the same lock.
struct BusBridge::Gate {
    UiPost post;
    std::weak_ptr<Drain> drain;
    std::mutex mutex;
    std::deque<MessagePtr> queued;
    bool wakeupPending = false;
    std::atomic<bool> closed{false};

    // The next message, or null (and no wakeup pending) when none is left.
    MessagePtr next() {
        std::lock_guard lock(mutex);
        if (queued.empty()) {
            wakeupPending = false;
            return nullptr;
        }
        MessagePtr message = std::move(queued.front());
        queued.pop_front();
        return message;
    }
};

struct BusBridge::Drain {
    GstPtr<GstBus> bus;
    Handler handler;
    std::shared_ptr<Gate> gate;

    void run() {
        // Messages posted before the sync handler was set wait on the bus itself.
        while (!gate->closed) {
            MessagePtr message(gst_bus_pop(bus.get()));
            if (!message) {
                break;
            }
            handler(message.get());
        }
        while (!gate->closed) {
            MessagePtr message = gate->next();
            if (!message) {
                break;
            }
            handler(message.get());
        }
    }
};

namespace {

void postWakeup(BusBridge::Gate& gate) {
    // Only the weak pointer travels: it is locked on the user-interface thread.
    gate.post([drain = gate.drain] {
        if (auto alive = drain.lock()) {
            alive->run();
        }
    });
}

GstBusSyncReply onPosted(GstBus*, GstMessage* message, gpointer data) {
    auto& gate = **static_cast<std::shared_ptr<BusBridge::Gate>*>(data);
    bool wake = false;
    {
        std::lock_guard lock(gate.mutex);
        if (gate.closed) {
            return GST_BUS_DROP;
        }
        gate.queued.emplace_back(GST_MESSAGE_CAST(gst_message_ref(message)));
        wake = !std::exchange(gate.wakeupPending, true);
    }
    if (wake) {
        postWakeup(gate);
    }
    return GST_BUS_DROP;
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
    gst_bus_set_sync_handler(bus, onPosted, new std::shared_ptr<Gate>(gate_), [](gpointer data) {
        delete static_cast<std::shared_ptr<Gate>*>(data);
    });
    // Messages posted before the handler was set need a wakeup of their own.
    if (gst_bus_have_pending(bus)) {
        postWakeup(*gate_);
    }
}

BusBridge::~BusBridge() {
    {
        // Queued messages hold their sources, the pipeline among them: dropping
        // them here lets the pipeline go.
        std::lock_guard lock(gate_->mutex);
        gate_->closed = true;
        gate_->queued.clear();
    }
    gst_bus_set_flushing(drain_->bus.get(), TRUE);
}

}  // namespace velmora::engine
