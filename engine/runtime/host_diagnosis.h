#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/player/failure.h"
#include "engine/runtime/main_context.h"

namespace velmora::engine {

// Finds out why a connection to a host failed, when the pipeline only said
// "Internal data stream error": resolves the host, connects to it and, for
// https, shakes hands with TLS verified against the system store. Runs on a
// thread of its own (GIO's resolver and socket client, cancellable); the
// verdict comes back on the user-interface thread through the post.
class HostDiagnosis {
  public:
    using Verdict = std::function<void(Failure)>;

    // uri is the http(s) URI that failed; the verdict is HostNotFound,
    // ConnectionRefused, TimedOut, TlsFailure, or ConnectionLost when the host
    // answers (the server then broke off the exchange).
    HostDiagnosis(const std::string& uri, int timeoutMs, const MainContext& context,
                  Verdict verdict);
    // Cancels a diagnosis still running; its verdict is never delivered.
    ~HostDiagnosis();
    HostDiagnosis(const HostDiagnosis&) = delete;
    HostDiagnosis& operator=(const HostDiagnosis&) = delete;

    struct Job;

  private:
    std::shared_ptr<Job> job_;
};

}  // namespace velmora::engine
