#pragma once

#include <gst/gst.h>

#include "engine/pipeline/audio_output_factory.h"

namespace velmora::engine {

// The element messages the system output posts from itself: the sound
// server went away under a playing stream, and the output plays into it
// again (its new stream has taken the first sound: the pipeline may play
// on, and picks the new stream's clock when it does).
inline constexpr char kOutputGoneMessage[] = "velmora-output-gone";
inline constexpr char kOutputBackMessage[] = "velmora-output-back";

// The sound server's output, named as ours in mixers: a new floating bin
// that hands pulsesink every song in the first one's sample rate and
// channels, in one sample format, else autoaudiosink. Throws
// playback::PlayerError when neither plugin is there.
//
// The pulsesink bin outlives its sound server. When the server goes away
// after the first sound, the bin holds the sound back (its input blocks, so
// the buffers in front of it fill and hold the network back), posts
// kOutputGoneMessage, and tries a fresh stream on the server every few
// hundred milliseconds, on context's thread; when one opens it posts
// kOutputBackMessage. After returnDeadlineMs it posts the error the server's
// loss raised, as a sink that cannot play. The stream is never pinned to a
// device: the server moves it when its default output changes or goes.
GstElement* makeSystemOutput(GMainContext* context, int returnDeadlineMs = kSoundServerReturnMs);

}  // namespace velmora::engine
