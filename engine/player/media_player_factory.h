#pragma once

#include <memory>

#include "engine/player/engine_options.h"
#include "engine/runtime/thread_keeper.h"
#include "playback/player.h"
#include "playback/player_settings.h"

namespace velmora::engine {

// The GStreamer media player. Initialises GStreamer on first use. Call it and
// the player only from the user-interface thread, which must run GLib's
// default main context (Qt's GLib dispatcher does) unless options name
// another way to post to it. The keeper, which must outlive the player,
// takes the threads that still wind its pipelines down when it ends. Never
// returns null; throws PlayerError when GStreamer cannot be initialised.
std::unique_ptr<playback::Player> createMediaPlayer(const playback::PlayerSettings& settings,
                                                    ThreadKeeper& threads);

// The same with choices for tests and tools: another audio output, another
// way to reach the user-interface thread, shorter network timings.
std::unique_ptr<playback::Player> createMediaPlayer(const playback::PlayerSettings& settings,
                                                    ThreadKeeper& threads, EngineOptions options);

}  // namespace velmora::engine
