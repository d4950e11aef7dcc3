#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace velmora::engine {

enum class SampleFormat { S16, S32, F32 };  // interleaved, native byte order

// The first frame in which any channel rises above -45 dBFS, or nothing when
// the whole block stays below. A stream's first sound often comes after the
// encoder's and decoder's delay (about 25 ms of near-silence in an MP3 from
// LAME); playing that lead-in only delays what is heard.
std::optional<std::size_t> firstAudibleFrame(const void* samples, std::size_t frameCount,
                                             int channelCount, SampleFormat format);

}  // namespace velmora::engine
