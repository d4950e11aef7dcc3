#pragma once

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "engine/runtime/gst_handles.h"

namespace velmora::engine {

// What the source has delivered. Each fact has one writer, named with it;
// the session reads them on the user-interface thread.
struct SourceProgress {
    // The source's streaming thread: what it delivered, the skipped bytes
    // included, and how many times a source ended (sent end-of-stream).
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<int> sourceEnds{0};
    std::uint64_t tagBytes = 0;  // that thread's alone
    // The thread that plays a live stream's next connection (see LiveRejoin):
    // how many ends were followed by a new connection.
    std::atomic<int> rejoins{0};
    // An adaptive stream's source carries only its playlist (see
    // watchAdaptiveDemuxer): its media is what the demuxer's streaming
    // threads deliver, and has ended when the demuxer's output has.
    std::atomic<bool> adaptive{false};  // the thread that adds the demuxer
    std::atomic<std::uint64_t> fragmentBytes{0};
    std::atomic<bool> fragmentsFinished{false};
    // The thread that adds the network buffer: the stream's type is known.
    std::atomic<bool> typed{false};

    std::uint64_t delivered() const { return bytes.load() + fragmentBytes.load(); }
    bool ended() const {
        return adaptive ? fragmentsFinished.load() : sourceEnds.load() > rejoins.load();
    }

    // A source error while the pipeline prerolls makes the bin abort the
    // state change, and what arrived is never played. A server faster than
    // that (a whole file cut short in milliseconds) would lose everything:
    // once the stream's type is known and past kBytesBeforePreroll (and a
    // leading ID3 tag, cover art and all), the source's pad is blocked (a
    // blocking probe, which a flush and the teardown release too) until the
    // pipeline prerolled, or at most kPrerollWait once: the source posts
    // kHeldMessage, and the session releases it when that time is up.
    static constexpr std::uint64_t kBytesBeforePreroll = 32 * 1024;
    static constexpr std::chrono::milliseconds kPrerollWait{2000};
    static constexpr char kHeldMessage[] = "velmora-source-held";
    // On the source's streaming thread; nothing once released.
    void hold(GstPad* pad);
    // Prerolled, waited long enough, or taken down: on the user-interface
    // thread. Nothing is held any more, nor ever again.
    void release();

  private:
    std::mutex holdMutex_;  // hands the probe from the streaming thread over
    GstPtr<GstPad> heldPad_;
    gulong holdProbe_ = 0;
    bool released_ = false;
};

// The bytes a data probe sees: a buffer's or a buffer list's; 0 for an event.
std::uint64_t probedBytes(GstPadProbeInfo* info);

}  // namespace velmora::engine
