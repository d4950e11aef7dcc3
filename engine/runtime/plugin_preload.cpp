#include "engine/runtime/plugin_preload.h"

#include <gst/gst.h>

#include <iterator>

#include "engine/runtime/gst_handles.h"

namespace velmora::engine {
namespace {

// The plugins an opening needs, in the order it needs them: the pipeline and
// the sound output as the player builds them, then the stream's side once the
// server answers. Loading runs under one registry lock, so the preloading
// follows that order: the user-interface thread then never waits behind a
// plugin it does not need yet. Finding the stream's type loads subparse, for
// its subtitle types; autoaudiosink's only stands in for a missing pulsesink.
constexpr const char* kPluginsToPreload[] = {
    "playback",          "coreelements", "pulseaudio", "audioconvert", "audioresample", "soup",
    "typefindfunctions", "subparse",     "icydemux",   "audioparsers", "mpg123",        "volume",
    "autodetect",
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
