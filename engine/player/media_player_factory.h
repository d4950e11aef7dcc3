#pragma once

#include <memory>

#include "engine/player/engine_options.h"
#include "playback/player.h"
#include "playback/player_settings.h"

namespace velmora::engine {

// The GStreamer media player. Initialises GStreamer on first use. Call it and
// the player only from the user-interface thread, which must run GLib's
// default main context (Qt's GLib dispatcher does) unless options name
// another way to post to it. Never returns null; throws PlayerError when
// GStreamer cannot be initialised.
std::unique_ptr<playback::Player> createMediaPlayer(const playback::PlayerSettings& settings);

// The same with choices for tests and tools: another audio output, another
// way to reach the user-interface thread, shorter network timings.
std::unique_ptr<playback::Player> createMediaPlayer(const playback::PlayerSettings& settings,
                                                    EngineOptions options);

}  // namespace velmora::engine
