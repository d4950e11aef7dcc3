#pragma once

#include <gst/gst.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/runtime/gst_handles.h"

namespace velmora::engine {

// Changes the state of a player's pipelines on one thread of its own, so that
// no caller waits: going to READY connects to the sound server, going to NULL
// joins streaming threads that may sit in a network call. Requests for one
// pipeline are applied in order; only the latest one still pending counts.
class StateWorker {
  public:
    // How long the destructor waits for the pipelines still queued to wind
    // down before it says so in the log; it joins the thread either way.
    static constexpr std::chrono::milliseconds kShutdownBound{2000};

    // spareWork is called on the worker's thread whenever no request waits,
    // until it returns false: small steps of work that no request may wait for.
    explicit StateWorker(std::function<bool()> spareWork = {});
    // Retires what is still queued, then joins the thread.
    ~StateWorker();
    StateWorker(const StateWorker&) = delete;
    StateWorker& operator=(const StateWorker&) = delete;

    // A change the pipeline refuses (GST_STATE_CHANGE_FAILURE) ends in a
    // GST_CORE_ERROR_STATE_CHANGE ERROR on its bus, after any ERROR an
    // element posted while refusing.
    void request(GstElement* pipeline, GstState state);
    // Takes the pipeline to NULL and drops the worker's reference to it; a
    // request for it not yet applied is never applied. A failure to wind
    // down is never reported: nobody listens any more.
    void retire(GstElement* pipeline);

  private:
    struct Job {
        GstPtr<GstElement> pipeline;
        GstState state = GST_STATE_NULL;
        bool retire = false;
    };

    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable drained_;
    std::deque<Job> jobs_;
    bool busy_ = false;
    bool stopping_ = false;
    std::function<bool()> spareWork_;
    std::thread thread_;  // last: starts once everything it uses is there
};

}  // namespace velmora::engine
