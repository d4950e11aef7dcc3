#include "engine/pipeline/leading_silence.h"

#include <cmath>
#include <cstring>

namespace velmora::engine {
namespace {

// -45 dBFS: what an MP3 encoder leaves ahead of the first sound (pre-echo up
// to about -50 dBFS) stays under it; a listener hears nothing of it before a
// sound starts.
constexpr double kSilenceFullScale = 0.0056;

template <typename Sample>
std::optional<std::size_t> firstAbove(const void* samples, std::size_t frameCount, int channelCount,
                                      double threshold) {
    const auto* bytes = static_cast<const unsigned char*>(samples);
    const std::size_t count = frameCount * static_cast<std::size_t>(channelCount);
    for (std::size_t i = 0; i < count; ++i) {
        Sample sample;
        std::memcpy(&sample, bytes + i * sizeof(Sample), sizeof(Sample));
        if (std::fabs(static_cast<double>(sample)) > threshold) {
            return i / static_cast<std::size_t>(channelCount);
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::size_t> firstAudibleFrame(const void* samples, std::size_t frameCount,
                                             int channelCount, SampleFormat format) {
    if (channelCount <= 0) {
        return std::nullopt;
    }
    switch (format) {
        case SampleFormat::S16:
            return firstAbove<std::int16_t>(samples, frameCount, channelCount,
                                            kSilenceFullScale * 32768);
        case SampleFormat::S32:
            return firstAbove<std::int32_t>(samples, frameCount, channelCount,
                                            kSilenceFullScale * 2147483648.0);
        case SampleFormat::F32:
            return firstAbove<float>(samples, frameCount, channelCount, kSilenceFullScale);
    }
    return std::nullopt;
}

}  // namespace velmora::engine
