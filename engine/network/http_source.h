#pragma once

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace velmora::engine {

// Gives an http source (souphttpsrc) what every request of the player
// carries: the user agent, strict TLS verification and its own retry of a
// broken connection, and returns true; other sources are left as they are.
// Proxy, redirect limit and the network timeout (15 s, after the phases'
// deadlines) are souphttpsrc's defaults: a source with settings of its own
// could not use the player's one session (HttpSession).
bool configureHttpSource(GstElement* source);

// Whether a pipeline's http request is under way: sent, and neither answered
// nor failed. libsoup 3.2 crashes in its own thread when a request is
// cancelled between its answer's arrival and souphttpsrc taking it (the
// answer's stream, dropped unread, is closed on a message whose exchange the
// cancel already ended), and every pipeline going down cancels its source's
// request. So a pipeline is taken down only once its request is answered (or
// before it is sent), within a bound (StateWorker::retire).
class HttpRequests : public std::enable_shared_from_this<HttpRequests> {
  public:
    // A new source, about to send its request: on the thread that makes it.
    // Its answer is read on its streaming thread.
    void watch(GstElement* source);
    bool underWay() const { return sent_.load() > answered_.load(); }

  private:
    std::atomic<std::uint64_t> sent_{0};      // written where sources are made
    std::atomic<std::uint64_t> answered_{0};  // written by the source's streaming thread
};

// The one libsoup session every request of a player goes through.
//
// Left to itself, souphttpsrc makes a session, and a thread to run it, for
// every source, and ends both as the source stops: a thread started and
// joined at every opening, and a session finalized while the requests it
// cancelled may still be completing. Shared, one session and one thread
// serve every opening and outlive every source that stops: the first source
// to start makes the session and offers it (souphttpsrc's "gst.soup.session"
// context), the share keeps it and hands it to every pipeline made after. It
// ends with the last reference to the share, which every pipeline's bus holds:
// after the player, and after every pipeline it served is down.
class HttpSession {
  public:
    HttpSession() = default;
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // Keeps the session a pipeline's source offers: in a bus's sync handler,
    // so before the source can stop.
    static void watch(GstBus* bus, const std::shared_ptr<HttpSession>& share);
    // Hands the session to a new pipeline, once there is one.
    void lend(GstElement* pipeline) const;

  private:
    void offer(GstMessage* message);

    mutable std::mutex mutex_;  // offered on streaming threads, lent on the main one
    GstContext* context_ = nullptr;
};

}  // namespace velmora::engine
