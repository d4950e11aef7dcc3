#pragma once

#include <chrono>
#include <cstdint>
#include <limits>

namespace velmora::engine {

// Whether the network keeps a stream supplied, judged from what the player
// sees at each look: a stall (nothing delivered while the sound ahead runs
// low) and running dry (pause until a longer buffer is there than the last
// time). It knows no pipeline and no clock: the facts and the time come in.
class NetworkHealth {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::int64_t kUnknownNs = std::numeric_limits<std::int64_t>::min();

    struct Look {
        Clock::time_point now;
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

    NetworkHealth(std::chrono::milliseconds stallTimeout, Clock::time_point now);

    // True when nothing arrived for the stall timeout while sound was wanted
    // and the sound ahead was low. A server faster than real time fills every
    // buffer and then waits for room, sometimes for many seconds: no bytes
    // move, yet nothing is missing.
    bool stalled(const Look& look);

    // Whether playing sound ran dry or came back; only for a stream that
    // played and is meant to play.
    Supply supply(const Look& look);

    bool refilling() const { return refilling_; }
    int refillPercent() const { return refillPercent_; }

  private:
    std::chrono::milliseconds stallTimeout_;
    std::uint64_t bytesAtLastLook_ = 0;
    Clock::time_point lastProgress_;
    bool refilling_ = false;
    std::int64_t refillTargetNs_ = 0;
    int refillPercent_ = 0;
};

}  // namespace velmora::engine
