#pragma once

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
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
    // leading ID3 tag, cover art and all), the buffer that crosses it is held
    // in the source's pad (a blocking probe, which a flush and the teardown
    // release too) until the pipeline prerolled, or at most kPrerollWait
    // once: the source posts kHeldMessage, and the session releases it when
    // that time is up. The buffer itself must be held: were it let through,
    // the source's next read could be the failure, with nothing to hold.
    static constexpr std::uint64_t kBytesBeforePreroll = 32 * 1024;
    static constexpr std::chrono::milliseconds kPrerollWait{2000};
    static constexpr char kHeldMessage[] = "velmora-source-held";
    // The source's streaming thread: the byte count from which a buffer is
    // held, once the leading tag's size is known.
    std::atomic<std::uint64_t> holdFrom{UINT64_MAX};
    // Where the source is set up; nothing once released. GStreamer calls a
    // blocking probe before the others, so it reads the bytes before the
    // buffer it is handed.
    static void holdInPad(GstPad* pad, const std::shared_ptr<SourceProgress>& progress);
    // Prerolled, waited long enough, or taken down: on the user-interface
    // thread. Nothing is held any more, nor ever again.
    void release();

    // A paced station sends a small piece every few milliseconds, and reading
    // each as it comes wakes the network, source and buffer threads for it.
    // While plenty of sound is ahead (the session says so, from the
    // user-interface thread), the source's streaming thread waits
    // kGatherWait after a read that emptied the connection (shorter than the
    // source's block), so that its next read takes what came meanwhile in one
    // piece. Nothing waits at the start, while refilling, or once gathering
    // is off again (the teardown turns it off), which ends a wait under way.
    static constexpr std::chrono::milliseconds kGatherWait{100};
    // Sound ahead from which reads are gathered: well above what a refill
    // starts from. Unknown (the lowest value) is below it.
    static constexpr std::int64_t kGatherFromAheadNs = 1'500'000'000;
    void gatherReads(bool gather);
    // The source's streaming thread, after a read of `size` bytes.
    void waitToGather(std::uint64_t size, std::uint64_t blockSize);

  private:
    std::mutex gatherMutex_;
    std::condition_variable gatherEnd_;
    bool gather_ = false;  // the user-interface thread's, under gatherMutex_

    std::mutex holdMutex_;  // hands the probe from the streaming thread over
    GstPtr<GstPad> heldPad_;
    gulong holdProbe_ = 0;
    bool released_ = false;
    std::atomic<bool> heldPosted_{false};  // the source's streaming thread
};

// The bytes a data probe sees: a buffer's or a buffer list's; 0 for an event.
std::uint64_t probedBytes(GstPadProbeInfo* info);

}  // namespace velmora::engine
