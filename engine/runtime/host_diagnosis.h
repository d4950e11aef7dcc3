#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/runtime/failure.h"
#include "engine/runtime/main_context.h"

namespace velmora::engine {

// Finds out why a connection to a host failed, when the pipeline only said
// "Internal data stream error": resolves the host, connects to it and, for
// https, shakes hands with TLS verified against the system store. Every step
// is one of GIO's asynchronous calls dispatched on the given main context, so
// the diagnosis needs no thread and the verdict runs on that context's thread.
// Constructed, used and destroyed on that thread only.
class HostDiagnosis {
  public:
    using Verdict = std::function<void(Failure)>;

    // uri is the http(s) URI that failed; the verdict, called at most once, is
    // UnsupportedAddress when uri is not a URI, HostNotFound, ConnectionRefused,
    // TlsFailure, TimedOut when the whole diagnosis took longer than timeoutMs,
    // or ConnectionLost when the host answers (the server then broke off the
    // exchange). Never called from within the constructor. The context is only
    // referenced: it need not outlive the diagnosis.
    HostDiagnosis(const std::string& uri, int timeoutMs, const MainContext& context,
                  Verdict verdict);
    // Cancels a diagnosis still running; its verdict is never called.
    ~HostDiagnosis();
    HostDiagnosis(const HostDiagnosis&) = delete;
    HostDiagnosis& operator=(const HostDiagnosis&) = delete;

    struct Probe;  // shared with GIO's callbacks, which may outlive the diagnosis

  private:
    std::shared_ptr<Probe> probe_;
};

}  // namespace velmora::engine
