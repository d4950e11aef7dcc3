#include "engine/runtime/network_monitor_thread.h"

#include <gio/gio.h>

#include <utility>

#include "engine/runtime/debug_category.h"
#include "engine/runtime/gst_handles.h"
#include "engine/runtime/thread_default.h"

namespace velmora::engine {
namespace {

// The first of GIO's monitors that works here, highest priority first, as
// GIO itself chooses (NetworkManager's, else the kernel's routes).
GObjectPtr<GNetworkMonitor> makeMonitor(GCancellable* cancellable, bool busThere) {
    // Registers GIO's built-in extensions, the monitors among them, without
    // making GIO's shared monitor.
    g_vfs_get_default();
    GIOExtensionPoint* point = g_io_extension_point_lookup(G_NETWORK_MONITOR_EXTENSION_POINT_NAME);
    if (point == nullptr) {
        return {};
    }
    for (GList* item = g_io_extension_point_get_extensions(point); item != nullptr;
         item = item->next) {
        auto* extension = static_cast<GIOExtension*>(item->data);
        if (!busThere && g_str_equal(g_io_extension_get_name(extension), "networkmanager")) {
            continue;  // it would reach for the bus again, and wait
        }
        GError* rawError = nullptr;
        GObjectPtr<GNetworkMonitor> monitor(static_cast<GNetworkMonitor*>(
            g_initable_new(g_io_extension_get_type(extension), cancellable, &rawError, nullptr)));
        const ErrorPtr error(rawError);
        if (monitor) {
            GST_CAT_DEBUG(debugCategory(), "network monitor %s", G_OBJECT_TYPE_NAME(monitor.get()));
            return monitor;
        }
    }
    return {};
}

struct Reporter {
    const MainContext& context;
    std::weak_ptr<std::function<void()>> onUsable;

    void check(GNetworkMonitor* monitor) const {
        if (!g_network_monitor_get_network_available(monitor) ||
            g_network_monitor_get_connectivity(monitor) != G_NETWORK_CONNECTIVITY_FULL) {
            return;
        }
        context.post([onUsable = onUsable] {
            if (const auto report = onUsable.lock()) {
                (*report)();
            }
        });
    }
    static void onChanged(GNetworkMonitor* monitor, gboolean, gpointer data) {
        static_cast<Reporter*>(data)->check(monitor);
    }
    static void onNotify(GObject* monitor, GParamSpec*, gpointer data) {
        static_cast<Reporter*>(data)->check(G_NETWORK_MONITOR(monitor));
    }
};

// More than GDBus ever leaves behind; a bound, so the thread ends whatever happens.
constexpr int kCleanUpIterations = 100;

}  // namespace

NetworkMonitorThread::NetworkMonitorThread(MainContext& context, std::function<void()> onUsable)
    : context_(context),
      onUsable_(std::make_shared<std::function<void()>>(std::move(onUsable))),
      self_(std::make_shared<NetworkMonitorThread*>(this)),
      monitorContext_(g_main_context_new()),
      cancellable_(g_cancellable_new()) {
    const ThreadDefault scope(context_.get());
    g_bus_get(G_BUS_TYPE_SYSTEM, cancellable_.get(), onBus,
              new std::weak_ptr<NetworkMonitorThread*>(self_));
}

NetworkMonitorThread::~NetworkMonitorThread() {
    // Ends the thread's wait for NetworkManager's answer, or its loop.
    g_cancellable_cancel(cancellable_.get());
    g_main_context_wakeup(monitorContext_.get());
    if (thread_) {
        thread_->join();
    }
}

void NetworkMonitorThread::onBus(GObject*, GAsyncResult* result, gpointer data) {
    const std::unique_ptr<std::weak_ptr<NetworkMonitorThread*>> handle(
        static_cast<std::weak_ptr<NetworkMonitorThread*>*>(data));
    GError* rawError = nullptr;
    GObjectPtr<GDBusConnection> bus(g_bus_get_finish(result, &rawError));
    const ErrorPtr error(rawError);
    const auto self = handle->lock();
    if (!self) {
        return;
    }
    NetworkMonitorThread& owner = **self;
    if (bus) {
        // The process's one system-bus connection, which the monitor shares.
        // GIO's default for it ends the program when the bus goes away (a
        // restart of the bus), which a player has no reason to.
        g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
        owner.bus_ = std::move(bus);
    } else {
        GST_CAT_DEBUG(debugCategory(), "no system bus for the network monitor: %s", error->message);
    }
    owner.thread_.emplace([&owner, busThere = owner.bus_ != nullptr] { owner.run(busThere); });
}

void NetworkMonitorThread::run(bool busThere) {
    GMainContext* context = monitorContext_.get();
    const ThreadDefault scope(context);
    watch(makeMonitor(cancellable_.get(), busThere));
    // GDBus frees what the monitor's proxy subscribed with on this context,
    // after the monitor is gone: it must run once more for that.
    for (int i = 0; i < kCleanUpIterations && g_main_context_iteration(context, FALSE); ++i) {
    }
}

void NetworkMonitorThread::watch(GObjectPtr<GNetworkMonitor> monitor) {
    if (!monitor) {
        return;
    }
    Reporter reporter{context_, onUsable_};
    g_signal_connect(monitor.get(), "network-changed", G_CALLBACK(Reporter::onChanged), &reporter);
    g_signal_connect(monitor.get(), "notify::connectivity", G_CALLBACK(Reporter::onNotify),
                     &reporter);
    g_signal_connect(monitor.get(), "notify::network-available", G_CALLBACK(Reporter::onNotify),
                     &reporter);
    // A wake-up that comes before the first iteration is kept for it.
    while (!g_cancellable_is_cancelled(cancellable_.get())) {
        g_main_context_iteration(monitorContext_.get(), TRUE);
    }
    g_signal_handlers_disconnect_by_data(monitor.get(), &reporter);
}

}  // namespace velmora::engine
