#pragma once

#include <gst/gst.h>

#include <string>

#include "playback/player_error.h"

namespace velmora::engine {

// A new element of the named factory, floating until a bin takes it. A
// missing factory means a missing plugin: the player cannot work without it.
inline GstElement* makeElement(const char* factory) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (element == nullptr) {
        throw playback::PlayerError(std::string("缺少 GStreamer 组件：") + factory);
    }
    return element;
}

}  // namespace velmora::engine
