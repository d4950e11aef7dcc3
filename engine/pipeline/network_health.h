#pragma once

#include <cstdint>
#include <limits>

namespace velmora::engine {

// Whether the network keeps a playing stream supplied with sound, judged from
// what each look sees: when the sound ahead runs dry, the stream pauses until
// a longer buffer is there than the last time. It knows no pipeline and no
// clock: the facts come in.
class NetworkHealth {
  public:
    static constexpr std::int64_t kUnknownNs = std::numeric_limits<std::int64_t>::min();
    // Less sound than this ahead of the listener means the sink is running dry.
    static constexpr std::int64_t kStarvingNs = 40'000'000;

    struct Look {
        std::uint64_t bytes = 0;            // what the source delivered so far
        std::int64_t aheadNs = kUnknownNs;  // sound buffered ahead of the listener
        bool wanted = false;                // the player means to be playing
        bool sourceFinished = false;        // the source sent its end
    };

    enum class Supply {
        Unchanged,
        RanDry,     // pause: a longer buffer is wanted than the last time
        Refilling,  // still paused; refillPercent() says how far
        Refilled,   // play again
    };

    // Whether playing sound ran dry or came back; only for a stream that
    // played and is meant to play.
    Supply supply(const Look& look);

    bool refilling() const { return refilling_; }
    int refillPercent() const { return refillPercent_; }

  private:
    bool refilling_ = false;
    std::int64_t refillTargetNs_ = 0;
    int refillPercent_ = 0;
};

}  // namespace velmora::engine
