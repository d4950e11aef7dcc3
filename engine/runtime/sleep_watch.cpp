#include "engine/runtime/sleep_watch.h"

#include <gio/gio.h>

#include <utility>

#include "engine/runtime/debug_category.h"
#include "engine/runtime/gst_handles.h"
#include "engine/runtime/thread_default.h"

namespace velmora::engine {
namespace {

constexpr char kLogind[] = "org.freedesktop.login1";
constexpr char kManager[] = "org.freedesktop.login1.Manager";
constexpr char kManagerPath[] = "/org/freedesktop/login1";

}  // namespace

// GIO's callbacks get a weak handle: one that comes back after the watch is
// gone (a cancelled connect always calls back) finds nothing to report to.
struct SleepWatch::Link {
    using Handle = std::weak_ptr<Link>;

    GMainContext* context = nullptr;
    std::function<void()> onWoke;
    GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
    GObjectPtr<GDBusConnection> connection;
    guint subscription = 0;

    ~Link() {
        if (subscription != 0) {
            // GDBus drops signals already queued for a subscription that is gone.
            g_dbus_connection_signal_unsubscribe(connection.get(), subscription);
        }
        if (connection) {
            g_dbus_connection_close(connection.get(), nullptr, nullptr, nullptr);
        }
    }

    static void onConnected(GObject*, GAsyncResult* result, gpointer data) {
        const std::unique_ptr<Handle> handle(static_cast<Handle*>(data));
        GError* rawError = nullptr;
        GObjectPtr<GDBusConnection> connection(
            g_dbus_connection_new_for_address_finish(result, &rawError));
        const ErrorPtr error(rawError);
        const std::shared_ptr<Link> link = handle->lock();
        if (!link) {
            return;
        }
        if (!connection) {
            GST_CAT_DEBUG(debugCategory(), "no system bus, so no wake-up signal: %s",
                          error->message);
            return;
        }
        link->connection = std::move(connection);
        const ThreadDefault scope(link->context);
        link->subscription = g_dbus_connection_signal_subscribe(
            link->connection.get(), kLogind, kManager, "PrepareForSleep", kManagerPath, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, onSignal, link.get(), nullptr);
    }

    static void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* parameters, gpointer data) {
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) {
            return;
        }
        gboolean goingToSleep = TRUE;
        g_variant_get(parameters, "(b)", &goingToSleep);
        if (!goingToSleep) {
            static_cast<Link*>(data)->onWoke();
        }
    }
};

SleepWatch::SleepWatch(MainContext& context, std::function<void()> onWoke)
    : link_(std::make_shared<Link>()) {
    link_->context = context.get();
    link_->onWoke = std::move(onWoke);
    // Reads the environment only; the bus itself is reached asynchronously.
    GError* rawError = nullptr;
    const GCharPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &rawError));
    const ErrorPtr error(rawError);
    if (!address) {
        GST_CAT_DEBUG(debugCategory(), "no system bus address: %s", error->message);
        return;
    }
    const ThreadDefault scope(link_->context);
    g_dbus_connection_new_for_address(
        address.get(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, link_->cancellable.get(), Link::onConnected, new Link::Handle(link_));
}

SleepWatch::~SleepWatch() { g_cancellable_cancel(link_->cancellable.get()); }

}  // namespace velmora::engine
