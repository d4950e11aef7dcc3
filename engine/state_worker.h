#pragma once

#include <gst/gst.h>

#include <memory>

#include "gst_handles.h"

namespace velmora::engine {

// Changes one pipeline's state on a thread of its own, so that no caller
// waits: going to READY connects to the sound server, going to NULL joins
// streaming threads that may sit in a network call. Requests are applied in
// order; only the latest one that is still pending counts.
class StateWorker {
  public:
    explicit StateWorker(GstElement* pipeline);
    // Retires the pipeline: the thread takes it to NULL, drops its reference
    // and ends; a request not yet applied is never applied.
    ~StateWorker();
    StateWorker(const StateWorker&) = delete;
    StateWorker& operator=(const StateWorker&) = delete;

    void request(GstState state);

    struct Shared;

  private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace velmora::engine
