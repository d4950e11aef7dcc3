#include "media_player_factory.h"

#include <gst/gst.h>

#include <mutex>
#include <thread>

#include "gst_handles.h"
#include "playback/player_error.h"
#include "playbin_player.h"
#include "playlist_player.h"

namespace velmora::engine {
namespace {

// The plugins a stream needs after the connection is open, in the order it
// needs them. Loading them on a thread of their own, while the player starts
// and the server answers, keeps the loading off the way to the first sound.
constexpr const char* kPluginsToPreload[] = {
    "playback", "coreelements", "autodetect", "pulseaudio", "soup",         "typefindfunctions",
    "icydemux", "audioparsers", "mpg123",     "volume",     "audioconvert", "audioresample",
};

void preloadPlugins() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::thread([] {
            for (const char* name : kPluginsToPreload) {
                if (GstPlugin* plugin = gst_plugin_load_by_name(name)) {
                    gst_object_unref(plugin);
                }
            }
        }).detach();
    });
}

}  // namespace

std::unique_ptr<playback::Player> createMediaPlayer(const playback::PlayerSettings& settings) {
    return createMediaPlayer(settings, EngineOptions{});
}

std::unique_ptr<playback::Player> createMediaPlayer(const playback::PlayerSettings& settings,
                                                    EngineOptions options) {
    GError* rawError = nullptr;
    if (!gst_init_check(nullptr, nullptr, &rawError)) {
        ErrorPtr error(rawError);
        throw playback::PlayerError(std::string("无法初始化 GStreamer：") +
                                    (error ? error->message : ""));
    }
    preloadPlugins();
    auto streamPlayer = std::make_unique<PlaybinPlayer>(settings, options);
    return std::make_unique<PlaylistPlayer>(std::move(streamPlayer), settings, options);
}

}  // namespace velmora::engine
