#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/network/http_source.h"
#include "engine/pipeline/audio_output_factory.h"
#include "engine/pipeline/live_rejoin.h"
#include "engine/pipeline/source_progress.h"
#include "engine/pipeline/start_gate.h"
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
    // The player's one http session (see HttpSession).
    std::shared_ptr<HttpSession> http;
    // A download that starts over drops this many bytes first: the ones an
    // earlier connection already delivered.
    std::uint64_t skipBytes = 0;
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
    // The player's volume, linear, 0..1 (see makeAudioSink for why not playbin's).
    void setVolume(double volume);
    // Asks for a state; returns at once. The change happens on the state
    // worker's thread; its outcome comes on the bus.
    void requestState(GstState state);
    GstState requestedState() const { return requested_; }

    const SourceProgress& progress() const { return *progress_; }
    // The pipeline prerolled: the source may deliver at full speed.
    void prerolled() { progress_->release(); }
    void gatherReads(bool gather) { progress_->gatherReads(gather); }

    // The gate in front of the audio sink (see StartGate).
    StartGate& startGate() { return *startGate_; }
    // A live stream's next connection after a clean close (see LiveRejoin).
    LiveRejoin& liveRejoin() { return *liveRejoin_; }

    // The media's position, or -1 when the pipeline does not know it.
    std::int64_t positionNs() const;

  private:
    StateWorker& stateWorker_;
    GstPtr<GstElement> playbin_;
    GstPtr<GstElement> loudness_;  // the player's volume and mute
    std::shared_ptr<SourceProgress> progress_;
    std::shared_ptr<HttpRequests> requests_;
    std::unique_ptr<StartGate> startGate_;
    std::unique_ptr<LiveRejoin> liveRejoin_;
    std::unique_ptr<BusWatch> busWatch_;
    GstState requested_ = GST_STATE_NULL;
};

}  // namespace velmora::engine
