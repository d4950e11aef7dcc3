#pragma once

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/pipeline/source_progress.h"

namespace velmora::engine {

// Joins a live stream again, in the same playbin, when its server closes the
// connection cleanly: stations do at a song change or when their source
// restarts. playbin's switch to a next URI keeps the audio sink, its queue
// and the sound server's stream, so the sound buffered from the old
// connection plays on while the new one connects, and a listener hears no
// gap when the network is quicker than the buffer.
//
// Only a connection that brought a real stretch of sound earns a new one
// this way: a server that closes at once every time ends the opening as
// before, and the recovery's policy and budget take over. A new connection
// that fails, or brings nothing, is the session's as any other: an error, or
// a refill that runs out of time.
class LiveRejoin {
  public:
    // About a second of sound at 128 kbit/s.
    static constexpr std::uint64_t kEarnedAfterBytes = 16 * 1024;
    // The application message playbin carries once the stream is joined again,
    // with an int field "count".
    static constexpr char kJoinedMessage[] = "velmora-live-rejoined";

    LiveRejoin(GstElement* playbin, std::string uri, std::shared_ptr<SourceProgress> progress);
    LiveRejoin(const LiveRejoin&) = delete;
    LiveRejoin& operator=(const LiveRejoin&) = delete;

    // Whether an ending connection may be followed by a new one: only while
    // a stream known to be endless is wanted playing. Any thread.
    void allow(bool allowed);

    struct State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace velmora::engine
