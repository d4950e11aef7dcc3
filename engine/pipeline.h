#pragma once

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "bus_bridge.h"
#include "engine_options.h"
#include "gst_handles.h"
#include "start_gate.h"
#include "state_worker.h"

namespace velmora::engine {

struct PipelineSetup {
    std::string uri;
    AudioOutput audioOutput = AudioOutput::System;
    std::function<void(const PcmBlock&)> onPcm;
    double volume = 0.5;  // linear, 0..1
    bool mute = false;
    double balance = 0.0;  // -1 (left) .. 1 (right)
    int networkTimeoutS = 15;
};

// What the source has delivered, updated on the streaming thread.
struct SourceProgress {
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<bool> finished{false};  // the source sent end-of-stream
};

// Whether the object is an element made by the named factory.
bool isFromFactory(GstObject* object, std::string_view factoryName);

struct PcmRelay;

// One playbin for one opening of one URI, with its bus bridged to the
// user-interface thread. Nothing here waits for a state change: a state
// worker changes it, and takes it to NULL and frees it when it is retired.
class Pipeline {
  public:
    Pipeline(const PipelineSetup& setup, UiPost post, BusBridge::Handler onMessage);
    ~Pipeline();
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    GstElement* playbin() const { return playbin_.get(); }
    // Asks for a state; returns at once. The change happens on the state
    // worker's thread; its outcome comes on the bus.
    void requestState(GstState state);
    GstState requestedState() const { return requested_; }

    const SourceProgress& progress() const { return *progress_; }

    // The gate in front of the audio sink (see StartGate).
    StartGate& startGate() { return *startGate_; }

    // The media's position, or -1 when the pipeline does not know it.
    std::int64_t positionNs() const;

  private:
    GstPtr<GstElement> playbin_;
    std::shared_ptr<SourceProgress> progress_;
    std::shared_ptr<PcmRelay> pcmRelay_;
    std::unique_ptr<StartGate> startGate_;
    std::unique_ptr<BusBridge> bridge_;
    std::unique_ptr<StateWorker> stateWorker_;
    GstState requested_ = GST_STATE_NULL;
};

}  // namespace velmora::engine
