#pragma once

#include <cstdint>
#include <optional>

namespace velmora::engine {

struct ReconnectLimits {
    int firstDelayMs = 1000;     // doubles with every attempt
    int maxDelayMs = 30000;      // the doubling stops here
    int giveUpAfterMs = 180000;  // of failing to keep playing, from the first loss
    int steadyPlayMs = 30000;    // playing this long without a loss starts over
    int quickDelayMs = 250;      // the pause between attempts while a restart is likely
    int quickForMs = 3000;       // how long after losing a playing stream that is
    bool operator==(const ReconnectLimits&) const = default;
};

// When to try again after a stream was lost. A stream that was playing is
// tried every quarter second for the first few seconds: a station's source
// restarting (its mount answering "not found" meanwhile) is the usual cause,
// and it is back within a second or two. Then about 1, 2, 4, 8 s, capped,
// until the time since the first loss has run out. A stream that plays a
// little between losses (a server that stalls on every connection) does not
// start the count over; only a stretch of steady playing does.
class ReconnectPolicy {
  public:
    explicit ReconnectPolicy(ReconnectLimits limits) : limits_(limits) {}

    // The stream plays (again) since nowMs, on any steady clock in ms.
    void playing(std::int64_t nowMs);

    // The connection was lost, or an attempt failed, at nowMs: the delay
    // before the next attempt, or nothing when it is time to give up. Counts
    // the attempt.
    std::optional<int> nextDelayMs(std::int64_t nowMs);

    // The number of the attempt last handed out, from 1; 0 before the first.
    int attempt() const { return attempt_; }

    // When the time since the first loss runs out; only after nextDelayMs().
    std::int64_t giveUpAtMs() const { return firstLossMs_.value_or(0) + limits_.giveUpAfterMs; }

    // A new opening of the media: nothing was lost yet.
    void reset() { *this = ReconnectPolicy(limits_); }

  private:
    ReconnectLimits limits_;
    int attempt_ = 0;
    int backoffAttempt_ = 0;  // attempts after the quick ones
    std::optional<std::int64_t> firstLossMs_;
    std::optional<std::int64_t> playingSinceMs_;
    bool lostWhilePlaying_ = false;
};

}  // namespace velmora::engine
