#pragma once

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace velmora::engine {

// What the source has delivered, updated on the streaming thread.
struct SourceProgress {
    std::atomic<std::uint64_t> bytes{0};  // the skipped ones included
    std::atomic<bool> finished{false};    // the source sent end-of-stream
    // An adaptive stream's source carries only its playlist (see
    // watchAdaptiveDemuxer): its media has ended when the demuxer's has.
    std::atomic<bool> adaptive{false};
    std::atomic<bool> fragmentsFinished{false};
    bool ended() const { return adaptive ? fragmentsFinished.load() : finished.load(); }

    // A source error while the pipeline prerolls makes the bin abort the
    // state change, and what arrived is never played. A server faster than
    // that (a whole file cut short in milliseconds) would lose everything:
    // once the stream's type is known and past kBytesBeforePreroll (and a
    // leading ID3 tag, cover art and all), the source waits until the
    // pipeline prerolled or is taken down, at most kPrerollWait once.
    static constexpr std::uint64_t kBytesBeforePreroll = 32 * 1024;
    static constexpr std::chrono::milliseconds kPrerollWait{2000};
    void waitForPreroll();
    void release();                  // prerolled, or taken down: nothing waits any more
    std::uint64_t tagBytes = 0;      // streaming thread only
    std::atomic<bool> typed{false};  // the network buffer is in place

  private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool releasedFlag_ = false;
};

// The bytes a data probe sees: a buffer's or a buffer list's; 0 for an event.
std::uint64_t probedBytes(GstPadProbeInfo* info);

}  // namespace velmora::engine
