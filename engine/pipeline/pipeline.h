#pragma once

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/pipeline/start_gate.h"
#include "engine/player/engine_options.h"
#include "engine/runtime/bus_watch.h"
#include "engine/runtime/gst_handles.h"
#include "engine/runtime/state_worker.h"

namespace velmora::engine {

struct PipelineSetup {
    std::string uri;
    AudioOutputFactory audioOutput;
    double volume = 0.5;  // linear, 0..1
    bool mute = false;
    double balance = 0.0;  // -1 (left) .. 1 (right)
    int networkTimeoutS = 15;
    // A download that starts over drops this many bytes first: the ones an
    // earlier connection already delivered.
    std::uint64_t skipBytes = 0;
};

// What the source has delivered, updated on the streaming thread.
struct SourceProgress {
    std::atomic<std::uint64_t> bytes{0};  // the skipped ones included
    std::atomic<bool> finished{false};    // the source sent end-of-stream

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

// Whether the object is an element made by the named factory.
bool isFromFactory(GstObject* object, std::string_view factoryName);

// One playbin for one opening of one URI, with its bus watched on the
// user-interface thread's main context. Nothing here waits for a state change: the player's
// state worker changes it, and takes it to NULL and frees it when it is
// retired. The worker must outlive the pipeline.
class Pipeline {
  public:
    Pipeline(const PipelineSetup& setup, const MainContext& context, BusWatch::Handler onMessage,
             StateWorker& stateWorker);
    ~Pipeline();
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    GstElement* playbin() const { return playbin_.get(); }
    // Asks for a state; returns at once. The change happens on the state
    // worker's thread; its outcome comes on the bus.
    void requestState(GstState state);
    GstState requestedState() const { return requested_; }

    const SourceProgress& progress() const { return *progress_; }
    // The pipeline prerolled: the source may deliver at full speed.
    void prerolled() { progress_->release(); }

    // The gate in front of the audio sink (see StartGate).
    StartGate& startGate() { return *startGate_; }

    // The media's position, or -1 when the pipeline does not know it.
    std::int64_t positionNs() const;

  private:
    StateWorker& stateWorker_;
    GstPtr<GstElement> playbin_;
    std::shared_ptr<SourceProgress> progress_;
    std::unique_ptr<StartGate> startGate_;
    std::unique_ptr<BusWatch> busWatch_;
    GstState requested_ = GST_STATE_NULL;
};

}  // namespace velmora::engine
