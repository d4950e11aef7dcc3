#include "engine/runtime/plugin_preload.h"

#include <gst/gst.h>

#include <iterator>

#include "engine/runtime/gst_handles.h"

namespace velmora::engine {
namespace {

// The plugins a stream needs after the connection is open, in the order it
// needs them. Loading them while the player starts and the server answers
// keeps the loading off the way to the first sound.
constexpr const char* kPluginsToPreload[] = {
    "playback", "coreelements", "autodetect", "pulseaudio", "soup",         "typefindfunctions",
    "icydemux", "audioparsers", "mpg123",     "volume",     "audioconvert", "audioresample",
};

}  // namespace

std::function<bool()> pluginPreloader() {
    return [next = std::size_t{0}]() mutable {
        // Loaded is enough: the registry keeps the plugin, this reference is dropped.
        GstPtr<GstPlugin> plugin(gst_plugin_load_by_name(kPluginsToPreload[next]));
        return ++next < std::size(kPluginsToPreload);
    };
}

}  // namespace velmora::engine
