#pragma once

#include <gst/gst.h>

#include <chrono>
#include <functional>
#include <memory>

#include "engine/runtime/thread_keeper.h"

namespace velmora::engine {

// Changes the state of a player's pipelines on a thread of its own, so that
// no caller waits: going to READY connects to the sound server, going to NULL
// joins streaming threads that may sit in a network call. Requests for one
// pipeline are applied in order; only the latest one still pending counts.
//
// A pipeline that does not reach a state within kStuckBound holds up no
// other: its thread is given up to it (it ends if the change ever returns,
// touching nothing of the worker's), a fresh thread takes the queue over, and
// the log counts the pipelines so abandoned. Every thread is started through
// the keeper, which joins the given-up ones once they return. No caller waits
// for a state change; the destructor waits at most kShutdownBound.
class StateWorker {
  public:
    static constexpr std::chrono::milliseconds kStuckBound{3000};
    // How long the destructor waits for the pipelines still queued to wind
    // down; what is left then, its thread winds down on its own, kept by the
    // keeper.
    static constexpr std::chrono::milliseconds kShutdownBound{1000};
    // How long a retirement waits for what it is told to wait for.
    static constexpr std::chrono::milliseconds kRetireWaitBound{16000};

    // spareWork is called on the worker's thread whenever no request waits,
    // until it returns false: small steps of work that no request may wait for.
    explicit StateWorker(ThreadKeeper& threads, std::function<bool()> spareWork = {},
                         std::chrono::milliseconds stuckBound = kStuckBound);
    // Retires what is still queued, then joins the thread; after
    // kShutdownBound, leaves it to the keeper, and says so in the log.
    ~StateWorker();
    StateWorker(const StateWorker&) = delete;
    StateWorker& operator=(const StateWorker&) = delete;

    // A change the pipeline refuses (GST_STATE_CHANGE_FAILURE) ends in a
    // GST_CORE_ERROR_STATE_CHANGE ERROR on its bus, after any ERROR an
    // element posted while refusing.
    void request(GstElement* pipeline, GstState state);
    // Takes the pipeline to NULL and drops the worker's reference to it; a
    // request for it not yet applied is never applied. A failure to wind
    // down is never reported: nobody listens any more. With busy, not while
    // it answers true (polled from the worker's thread), for at most
    // kRetireWaitBound; other requests go ahead meanwhile.
    void retire(GstElement* pipeline, std::function<bool()> busy = {});

    // Pipelines given up so far because they did not reach a state in time.
    int abandoned() const;

    struct Shared;  // the queue, shared with every thread the worker started

  private:
    void replaceStuckThread();

    ThreadKeeper& threads_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace velmora::engine
