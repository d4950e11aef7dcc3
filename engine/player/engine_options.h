#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "engine/player/reconnect_policy.h"
#include "engine/runtime/ui_thread.h"

namespace velmora::engine {

// Decoded sound as it reaches a capturing test sink: interleaved signed 16-bit
// samples at the stream's rate.
struct PcmBlock {
    const std::int16_t* samples = nullptr;
    std::size_t frameCount = 0;
    int channelCount = 0;
    int rateHz = 0;
};

enum class AudioOutput {
    System,   // the sound server: pulsesink, else autoaudiosink
    Null,     // discarded in real time (fakesink sync=true)
    Capture,  // handed to onPcm in real time (appsink sync=true)
    Unpaced,  // discarded as fast as it decodes (fakesink sync=false): soaks
};

// Choices that only tests and tools make; the application uses the defaults.
struct EngineOptions {
    AudioOutput audioOutput = AudioOutput::System;
    // Capture only: called on a streaming thread for every decoded block, as
    // it is played.
    std::function<void(const PcmBlock&)> onPcm;
    // Posts to the user-interface thread; empty: GLib's default main context.
    UiPost postToUiThread;
    // How long a stream may deliver nothing before it counts as stalled (or,
    // before its first byte, as timed out).
    int stallTimeoutMs = 15000;
    ReconnectLimits reconnect;
};

}  // namespace velmora::engine
