#pragma once

#include <gst/gst.h>

namespace velmora::engine {

// Gives an http source (souphttpsrc) what every request of the player
// carries: the user agent, strict TLS verification, the network timeout and
// its own retry of a broken connection. Proxy and redirect limit are
// souphttpsrc's defaults, the same for every request. Other sources are left
// as they are.
void configureHttpSource(GstElement* source, int networkTimeoutS);

}  // namespace velmora::engine
