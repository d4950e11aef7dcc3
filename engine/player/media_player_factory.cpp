#include "engine/player/media_player_factory.h"

#include <gst/gst.h>

#include "engine/player/engine_player.h"
#include "engine/runtime/gst_handles.h"
#include "playback/player_error.h"

namespace velmora::engine {

std::unique_ptr<playback::Player> createMediaPlayer(const playback::PlayerSettings& settings,
                                                    ThreadKeeper& threads) {
    return createMediaPlayer(settings, threads, EngineOptions{});
}

std::unique_ptr<playback::Player> createMediaPlayer(const playback::PlayerSettings& settings,
                                                    ThreadKeeper& threads, EngineOptions options) {
    GError* rawError = nullptr;
    if (!gst_init_check(nullptr, nullptr, &rawError)) {
        ErrorPtr error(rawError);
        throw playback::PlayerError(std::string("无法初始化 GStreamer：") +
                                    (error ? error->message : ""));
    }
    return std::make_unique<EnginePlayer>(settings, threads, std::move(options));
}

}  // namespace velmora::engine
