#pragma once

// Outputs that tests and benchmarks hand the engine in place of the sound
// server. The program never links them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/pipeline/audio_output_factory.h"

namespace velmora::engine {

// Sound thrown away in real time, as a sound card would take it.
AudioOutputFactory nullOutput();
// Sound thrown away as fast as it is decoded: soaks, not timing.
AudioOutputFactory unpacedOutput();

// Decoded sound as it reaches the capture: interleaved signed 16-bit samples
// at the stream's rate, valid only during the call.
struct PcmBlock {
    const std::int16_t* samples = nullptr;
    std::size_t frameCount = 0;
    int channelCount = 0;
    int rateHz = 0;
};

// Hands the sound to a callback in real time, on the streaming thread, as
// it plays.
//
// A pipeline is taken down on the player's state worker thread after the
// player let go of it, so its sink may deliver a block when whatever the
// callback refers to is already gone; the sink going to NULL would be too
// late a moment to cut it off. Every sink this makes therefore reaches the
// callback only through a line that the capture owns: destroying the capture
// waits for a call in progress, and no call starts after it. Keep the capture
// no longer than what the callback uses; a sink that outlives it drops its
// sound.
class PcmCapture {
  public:
    explicit PcmCapture(std::function<void(const PcmBlock&)> onPcm);
    ~PcmCapture();
    PcmCapture(const PcmCapture&) = delete;
    PcmCapture& operator=(const PcmCapture&) = delete;

    // For EngineOptions::audioOutput; any number of players may share it.
    AudioOutputFactory output() const;

    struct Line;  // shared by the capture and every sink it made

  private:
    std::shared_ptr<Line> line_;
};

}  // namespace velmora::engine
