#pragma once

#include <gst/gst.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "engine/network/http_source.h"
#include "engine/runtime/bus_watch.h"
#include "engine/runtime/gst_handles.h"
#include "engine/runtime/state_worker.h"
#include "engine/stations/fetched_body.h"

namespace velmora::engine {

// Fetches one address with the same http source, settings and threads as the
// audio, so that user agent, proxy, TLS checks and redirects behave alike.
// Starts at once and returns without waiting; the network waits happen on
// streaming threads. Construct, use and destroy on the user-interface thread.
class PlaylistFetch {
  public:
    static constexpr std::size_t kMaxBodyBytes = 128 * 1024;
    static constexpr int kTimeoutMs = 10000;

    using Done = std::function<void(FetchedBody)>;

    // done runs once, on the user-interface thread, unless the fetch is
    // destroyed first; it may destroy the fetch. The worker changes the
    // fetch's states and must outlive it.
    PlaylistFetch(const std::string& uri, MainContext& context, StateWorker& worker,
                  const std::shared_ptr<HttpSession>& http, Done done);
    // Cancels: the source is unblocked and taken down on the state worker's
    // thread; done is not called.
    ~PlaylistFetch();
    PlaylistFetch(const PlaylistFetch&) = delete;
    PlaylistFetch& operator=(const PlaylistFetch&) = delete;

    struct Received;  // the body so far, filled on the streaming thread

  private:
    void onMessage(GstMessage* message);
    void finish(FetchedBody::Outcome outcome);
    // Stops the timer and the bus, and hands the pipeline to the worker.
    void tearDown();

    std::shared_ptr<Received> received_;
    std::string finalUri_;
    Done done_;
    Deadline timeout_;
    std::unique_ptr<BusWatch> busWatch_;
    StateWorker& worker_;
    std::shared_ptr<HttpRequests> requests_ = std::make_shared<HttpRequests>();
    GstPtr<GstElement> pipeline_;
};

}  // namespace velmora::engine
