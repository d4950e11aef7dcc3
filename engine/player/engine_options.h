#pragma once

#include "engine/pipeline/audio_output_factory.h"
#include "engine/player/reconnect_policy.h"

// Declared as GLib does, so that this header needs none of it.
typedef struct _GMainContext GMainContext;

namespace velmora::engine {

// Choices that only tests and tools make; the application uses the defaults.
struct EngineOptions {
    AudioOutputFactory audioOutput;
    // The user-interface thread's main context; null: GLib's default one,
    // which Qt's event loop iterates.
    GMainContext* context = nullptr;
    // How long a stream may deliver nothing before it counts as stalled (or,
    // before its first byte, as timed out).
    int stallTimeoutMs = 15000;
    ReconnectLimits reconnect;
};

}  // namespace velmora::engine
