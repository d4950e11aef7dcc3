#pragma once

#include <gio/gio.h>

#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "engine/runtime/gst_handles.h"
#include "engine/runtime/main_context.h"

namespace velmora::engine {

// GIO's network monitor, on a thread of its own: making one asks
// NetworkManager over the system bus and waits for the answer, which the
// user-interface thread must never do. It reports every change after which
// the network is fully there (a new route, NetworkManager's connectivity or
// availability). The monitor is one of its own, not GIO's shared one, whose
// signals would go to whichever thread asked for it first.
//
// The system bus is reached first, without waiting, on the context: GIO
// cannot cancel a connection's handshake, and a thread stuck in one could not
// be joined in time. Without a bus the monitor follows the kernel's routes.
//
// Construct and destroy on the context's thread; onUsable runs there, never
// after the destructor has begun. The destructor cancels what the thread
// waits for and joins it.
class NetworkMonitorThread {
  public:
    NetworkMonitorThread(MainContext& context, std::function<void()> onUsable);
    ~NetworkMonitorThread();
    NetworkMonitorThread(const NetworkMonitorThread&) = delete;
    NetworkMonitorThread& operator=(const NetworkMonitorThread&) = delete;

  private:
    static void onBus(GObject* source, GAsyncResult* result, gpointer data);
    void run(bool busThere);
    void watch(GObjectPtr<GNetworkMonitor> monitor);

    MainContext& context_;
    // Posted reports hold it weakly: the last one may arrive after the owner is gone.
    std::shared_ptr<std::function<void()>> onUsable_;
    // GIO's callback for the bus holds it weakly.
    std::shared_ptr<NetworkMonitorThread*> self_;
    struct ContextUnref {
        void operator()(GMainContext* context) const { g_main_context_unref(context); }
    };
    // The thread's own: the monitor's sources and its D-Bus proxy's signals go there.
    std::unique_ptr<GMainContext, ContextUnref> monitorContext_;
    GObjectPtr<GCancellable> cancellable_;
    GObjectPtr<GDBusConnection> bus_;
    std::optional<std::thread> thread_;
};

}  // namespace velmora::engine
