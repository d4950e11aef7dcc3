#pragma once

#include <gst/gst.h>

#include "engine/runtime/gst_handles.h"

namespace velmora::engine {

// The elements of one stream to the sound server: made for the output's
// first stream, and again for each fresh one once a server that went away is
// back.

// pulsesink made by hand, so that mixers show our name and, from the tags it
// forwards, the title; autoaudiosink would make one nobody can name. Its
// device stays unset, so the server moves the stream to whatever output
// becomes the default. Null when the plugin is missing.
GstPtr<GstElement> makePulseSink();

// The hand-off queue in front of pulsesink, floating.
GstElement* makeHandOff();

}  // namespace velmora::engine
