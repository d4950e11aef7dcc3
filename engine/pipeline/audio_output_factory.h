#pragma once

#include <functional>

// Declared as GStreamer does, so that this header needs none of it.
typedef struct _GstElement GstElement;

namespace velmora::engine {

// How long the system output waits for a sound server that went away under a
// stream before it gives up (a restart of the server takes a second or two).
inline constexpr int kSoundServerReturnMs = 30'000;

// Where the decoded sound goes.
//
// make is called on the user-interface thread once for every opening of a
// stream (a reconnect opens anew), and returns a new floating element with a
// "sink" pad that takes raw audio; the pipeline takes that reference. It may
// throw playback::PlayerError, which fails the opening like a missing plugin.
// The element runs on streaming threads and is taken down on the player's
// state worker thread after the player has let go of its pipeline, at the
// latest before the player's destructor returns. So nothing it calls may
// reach into the player, and what it does call must stay valid until then or
// be cut off by its owner first (the test capture is cut off that way).
//
// An empty make is the system output: the sound server.
struct AudioOutputFactory {
    std::function<GstElement*()> make;
    // Whether the output takes sound in real time. One that takes it as fast
    // as it is decoded never has sound ahead of it, so running dry means
    // nothing there.
    bool paced = true;
    // The system output's wait for its sound server's return.
    int serverReturnMs = kSoundServerReturnMs;
};

}  // namespace velmora::engine
