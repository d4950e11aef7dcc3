#pragma once

#include <cstdint>
#include <optional>

namespace velmora::engine {

struct ReconnectLimits {
    int firstDelayMs = 1000;     // doubles with every attempt
    int maxDelayMs = 30000;      // the doubling stops here
    int giveUpAfterMs = 180000;  // measured from the loss of the connection
    bool operator==(const ReconnectLimits&) const = default;
};

// When to try again after a stream was lost: about 1, 2, 4, 8 s, capped,
// until the time since the loss has run out.
class ReconnectPolicy {
  public:
    explicit ReconnectPolicy(ReconnectLimits limits) : limits_(limits) {}

    // The delay before the next attempt, given the time since the connection
    // was lost, or nothing when it is time to give up. Counts the attempt.
    std::optional<int> nextDelayMs(std::int64_t sinceLossMs);

    // The number of the attempt last handed out, from 1; 0 before the first.
    int attempt() const { return attempt_; }

    // A stream plays again: the next loss starts from the first delay.
    void reset() { attempt_ = 0; }

  private:
    ReconnectLimits limits_;
    int attempt_ = 0;
};

}  // namespace velmora::engine
