#include "engine/runtime/host_diagnosis.h"

#include <gio/gio.h>

#include <algorithm>
#include <utility>

#include "engine/runtime/gst_handles.h"
#include "engine/runtime/thread_default.h"

namespace velmora::engine {
namespace {

struct ContextUnref {
    void operator()(GMainContext* context) const { g_main_context_unref(context); }
};
using ContextPtr = std::unique_ptr<GMainContext, ContextUnref>;

struct SourceDestroy {
    void operator()(GSource* source) const {
        // A source that is dispatching keeps its callback alive until it returns.
        g_source_destroy(source);
        g_source_unref(source);
    }
};
using SourcePtr = std::unique_ptr<GSource, SourceDestroy>;

Failure connectFailure(const GError* error) {
    if (error->domain == G_TLS_ERROR) {
        return {FailureKind::TlsFailure, 0, {}};
    }
    if (error->domain == G_IO_ERROR) {
        switch (error->code) {
            case G_IO_ERROR_CONNECTION_REFUSED:
                return {FailureKind::ConnectionRefused, 0, {}};
            case G_IO_ERROR_TIMED_OUT:
            case G_IO_ERROR_HOST_UNREACHABLE:
            case G_IO_ERROR_NETWORK_UNREACHABLE:
                return {FailureKind::TimedOut, 0, {}};
            default:
                break;
        }
    }
    // Whatever else broke, the host was there to break it.
    return {FailureKind::ConnectionLost, 0, {}};
}

}  // namespace

// Owned by the diagnosis alone: GIO's callbacks get a weak handle, so a
// callback that comes back after the destructor (cancelled, as GIO always
// calls back once) finds nothing to report to.
struct HostDiagnosis::Probe {
    using Handle = std::weak_ptr<Probe>;

    ContextPtr context;
    GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
    std::string host;
    guint16 port = 0;
    bool https = false;
    GObjectPtr<GSocketClient> client;
    GObjectPtr<GIOStream> tls;
    // Ends the diagnosis if GIO has not: the timeout, or an idle carrying a
    // verdict known at once.
    SourcePtr deadline;
    Verdict verdict;  // empty once delivered or abandoned

    static gpointer handle(const std::shared_ptr<Probe>& probe) { return new Handle(probe); }

    // Takes back a handle given to GIO; null when the diagnosis is gone or done.
    static std::shared_ptr<Probe> claim(gpointer data) {
        const std::unique_ptr<Handle> handle(static_cast<Handle*>(data));
        std::shared_ptr<Probe> probe = handle->lock();
        return probe && probe->verdict ? probe : nullptr;
    }

    void resolve(const std::shared_ptr<Probe>& self) {
        GObjectPtr<GResolver> resolver(g_resolver_get_default());
        const ThreadDefault scope(context.get());
        g_resolver_lookup_by_name_async(resolver.get(), host.c_str(), cancellable.get(), onResolved,
                                        handle(self));
    }

    static void onResolved(GObject* source, GAsyncResult* result, gpointer data) {
        GError* rawError = nullptr;
        GList* addresses = g_resolver_lookup_by_name_finish(G_RESOLVER(source), result, &rawError);
        const ErrorPtr error(rawError);
        g_resolver_free_addresses(addresses);
        const std::shared_ptr<Probe> probe = claim(data);
        if (!probe) {
            return;
        }
        if (addresses == nullptr) {
            probe->deliver({FailureKind::HostNotFound, 0, probe->host});
            return;
        }
        probe->connect(probe);
    }

    void connect(const std::shared_ptr<Probe>& self) {
        client.reset(g_socket_client_new());
        const GObjectPtr<GSocketConnectable> address(g_network_address_new(host.c_str(), port));
        const ThreadDefault scope(context.get());
        g_socket_client_connect_async(client.get(), address.get(), cancellable.get(), onConnected,
                                      handle(self));
    }

    static void onConnected(GObject* source, GAsyncResult* result, gpointer data) {
        GError* rawError = nullptr;
        const GObjectPtr<GSocketConnection> connection(
            g_socket_client_connect_finish(G_SOCKET_CLIENT(source), result, &rawError));
        const ErrorPtr error(rawError);
        const std::shared_ptr<Probe> probe = claim(data);
        if (!probe) {
            return;
        }
        if (!connection) {
            probe->deliver(connectFailure(error.get()));
        } else if (probe->https) {
            probe->shakeHands(probe, G_IO_STREAM(connection.get()));
        } else {
            probe->deliver({FailureKind::ConnectionLost, 0, {}});
        }
    }

    void shakeHands(const std::shared_ptr<Probe>& self, GIOStream* connection) {
        const GObjectPtr<GSocketConnectable> identity(g_network_address_new(host.c_str(), port));
        GError* rawError = nullptr;
        tls.reset(g_tls_client_connection_new(connection, identity.get(), &rawError));
        const ErrorPtr error(rawError);
        if (!tls) {
            // No TLS backend: no https host can be reached either.
            deliver({FailureKind::TlsFailure, 0, {}});
            return;
        }
        const ThreadDefault scope(context.get());
        g_tls_connection_handshake_async(G_TLS_CONNECTION(tls.get()), G_PRIORITY_DEFAULT,
                                         cancellable.get(), onHandshake, handle(self));
    }

    static void onHandshake(GObject* source, GAsyncResult* result, gpointer data) {
        GError* rawError = nullptr;
        const gboolean shaken =
            g_tls_connection_handshake_finish(G_TLS_CONNECTION(source), result, &rawError);
        const ErrorPtr error(rawError);
        const std::shared_ptr<Probe> probe = claim(data);
        if (!probe) {
            return;
        }
        probe->deliver(shaken ? Failure{FailureKind::ConnectionLost, 0, {}}
                              : connectFailure(error.get()));
    }

    // The caller holds a reference: the verdict may destroy the diagnosis.
    void deliver(const Failure& failure) {
        if (!verdict) {
            return;
        }
        Verdict once = std::exchange(verdict, nullptr);
        abandon();
        once(failure);
    }

    void abandon() {
        verdict = nullptr;
        deadline.reset();
        g_cancellable_cancel(cancellable.get());
    }
};

HostDiagnosis::HostDiagnosis(const std::string& uri, int timeoutMs, const MainContext& context,
                             Verdict verdict)
    : probe_(std::make_shared<Probe>()) {
    probe_->context.reset(g_main_context_ref(context.get()));
    probe_->verdict = std::move(verdict);
    const Probe::Handle weak = probe_;
    probe_->deadline.reset(attachSource(
        g_timeout_source_new(static_cast<guint>(std::max(0, timeoutMs))), context.get(), [weak] {
            if (const std::shared_ptr<Probe> probe = weak.lock()) {
                probe->deliver({FailureKind::TimedOut, 0, {}});
            }
            return false;
        }));

    GError* rawError = nullptr;
    g_autoptr(GUri) parsed = g_uri_parse(uri.c_str(), G_URI_FLAGS_NONE, &rawError);
    const ErrorPtr parseError(rawError);
    if (parsed == nullptr) {
        // The verdict never runs inside the constructor, where the caller
        // may not yet hold the diagnosis.
        probe_->deadline.reset(attachSource(g_idle_source_new(), context.get(), [weak] {
            if (const std::shared_ptr<Probe> probe = weak.lock()) {
                probe->deliver({FailureKind::UnsupportedAddress, 0, {}});
            }
            return false;
        }));
        return;
    }
    probe_->host = g_uri_get_host(parsed) != nullptr ? g_uri_get_host(parsed) : "";
    probe_->https = g_ascii_strcasecmp(g_uri_get_scheme(parsed), "https") == 0;
    const int port = g_uri_get_port(parsed);
    probe_->port = static_cast<guint16>(port > 0 ? port : (probe_->https ? 443 : 80));
    probe_->resolve(probe_);
}

HostDiagnosis::~HostDiagnosis() { probe_->abandon(); }

}  // namespace velmora::engine
