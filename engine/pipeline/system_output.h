#pragma once

#include <gst/gst.h>

namespace velmora::engine {

// The sound server's output, named as ours in mixers: a new floating bin
// that hands pulsesink every song in the first one's sample rate and
// channels, in one sample format, else autoaudiosink. Throws
// playback::PlayerError when neither plugin is there.
GstElement* makeSystemOutput();

}  // namespace velmora::engine
