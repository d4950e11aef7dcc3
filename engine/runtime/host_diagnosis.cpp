#include "engine/runtime/host_diagnosis.h"

#include <gio/gio.h>

#include <thread>
#include <utility>

#include "engine/runtime/gst_handles.h"

namespace velmora::engine {

struct HostDiagnosis::Job {
    GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
    std::thread worker;
};

namespace {

Failure probe(const std::string& uri, int timeoutMs, GCancellable* cancellable) {
    GError* rawError = nullptr;
    GUri* parsed = g_uri_parse(uri.c_str(), G_URI_FLAGS_NONE, &rawError);
    ErrorPtr parseError(rawError);
    if (parsed == nullptr) {
        return {FailureKind::UnsupportedAddress, 0, {}};
    }
    const std::string host = g_uri_get_host(parsed) ? g_uri_get_host(parsed) : "";
    const bool tls = g_ascii_strcasecmp(g_uri_get_scheme(parsed), "https") == 0;
    g_uri_unref(parsed);

    GObjectPtr<GResolver> resolver(g_resolver_get_default());
    rawError = nullptr;
    GList* addresses =
        g_resolver_lookup_by_name(resolver.get(), host.c_str(), cancellable, &rawError);
    ErrorPtr lookupError(rawError);
    if (addresses == nullptr) {
        return {FailureKind::HostNotFound, 0, host};
    }
    g_resolver_free_addresses(addresses);

    GObjectPtr<GSocketClient> client(g_socket_client_new());
    g_socket_client_set_timeout(client.get(), static_cast<guint>((timeoutMs + 999) / 1000));
    g_socket_client_set_tls(client.get(), tls);
    rawError = nullptr;
    GObjectPtr<GSocketConnection> connection(g_socket_client_connect_to_uri(
        client.get(), uri.c_str(), tls ? 443 : 80, cancellable, &rawError));
    ErrorPtr connectError(rawError);
    if (connection) {
        if (tls) {
            // The handshake runs on first use; force it, to see the certificate verdict.
            GIOStream* tlsStream = nullptr;
            if (G_IS_TCP_WRAPPER_CONNECTION(connection.get())) {
                tlsStream = g_tcp_wrapper_connection_get_base_io_stream(
                    G_TCP_WRAPPER_CONNECTION(connection.get()));
            }
            if (tlsStream != nullptr && G_IS_TLS_CONNECTION(tlsStream)) {
                rawError = nullptr;
                g_tls_connection_handshake(G_TLS_CONNECTION(tlsStream), cancellable, &rawError);
                connectError.reset(rawError);
            }
        }
        if (!connectError) {
            return {FailureKind::ConnectionLost, 0, {}};
        }
    }
    if (connectError && connectError->domain == G_TLS_ERROR) {
        return {FailureKind::TlsFailure, 0, {}};
    }
    if (connectError && connectError->domain == G_IO_ERROR) {
        switch (connectError->code) {
            case G_IO_ERROR_CONNECTION_REFUSED:
                return {FailureKind::ConnectionRefused, 0, {}};
            case G_IO_ERROR_TIMED_OUT:
                return {FailureKind::TimedOut, 0, {}};
            case G_IO_ERROR_HOST_UNREACHABLE:
            case G_IO_ERROR_NETWORK_UNREACHABLE:
                return {FailureKind::TimedOut, 0, {}};
            default:
                break;
        }
    }
    return {FailureKind::ConnectionLost, 0, {}};
}

}  // namespace

HostDiagnosis::HostDiagnosis(const std::string& uri, int timeoutMs, const MainContext& context,
                             Verdict verdict)
    : job_(std::make_shared<Job>()) {
    std::weak_ptr<Job> weak = job_;
    GCancellable* cancellable = job_->cancellable.get();
    job_->worker =
        std::thread([uri, timeoutMs, cancellable, weak, &context, verdict = std::move(verdict)] {
            Failure failure = probe(uri, timeoutMs, cancellable);
            if (g_cancellable_is_cancelled(cancellable)) {
                return;
            }
            context.post([weak, verdict, failure] {
                if (weak.lock()) {
                    verdict(failure);
                }
            });
        });
}

HostDiagnosis::~HostDiagnosis() {
    g_cancellable_cancel(job_->cancellable.get());
    job_->worker.join();
}

}  // namespace velmora::engine
