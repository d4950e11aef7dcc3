#pragma once

#include <cstdint>
#include <functional>

#include "engine/pipeline/network_health.h"
#include "engine/runtime/failure.h"
#include "engine/runtime/timers.h"

namespace velmora::engine {

// The deadlines of one opening of a network stream. Each waiting phase has
// one, armed when the phase starts and armed again only on that phase's own
// kind of progress; when it runs out, onExpired says which phase it was and
// the opening's owner ends it. Phases and what counts as progress:
//   Connecting  until the first byte: nothing; the deadline is the connect timeout
//   Starting    until sound is heard: bytes arriving
//   Playing     bytes arriving, or a second of sound ahead, or the source's end
//   Refilling   after the sound ran dry: the buffer growing toward its target
// A phase the user holds (paused), or one whose source has sent its end, has
// no deadline; it starts afresh when sound is wanted again.
class PhaseWatch {
  public:
    enum class Phase { Connecting, Starting, Playing, Refilling };
    using Look = NetworkHealth::Look;
    using Supply = NetworkHealth::Supply;

    // Samples are this far apart, or as far as nextLookMs() says; the owner
    // takes them.
    static constexpr int kSamplePeriodMs = 100;

    // paced: the output plays in real time (an unpaced test sink never has
    // sound ahead, and never runs dry either).
    PhaseWatch(Timers& timers, int timeoutMs, bool paced, std::function<void(Phase)> onExpired);
    PhaseWatch(const PhaseWatch&) = delete;
    PhaseWatch& operator=(const PhaseWatch&) = delete;

    // Refilling is the network health's to say: it alone knows whether the
    // sound ran dry and when it is back.
    Phase phase() const {
        return phase_ == Phase::Playing && health_.refilling() ? Phase::Refilling : phase_;
    }
    // A sample of the opening; what it means for the sound supply (Playing
    // and Refilling only).
    Supply look(const Look& look);
    // When to look again after this look: later the more sound there is
    // ahead of a playing stream, as it runs out no faster than it plays.
    int nextLookMs(const Look& look) const;
    // The pipeline plays: sound is heard.
    void playing();
    // How far a refill is, 0..100.
    int refillPercent() const { return health_.refillPercent(); }
    bool refilling() const { return phase() == Phase::Refilling; }

  private:
    void enter(Phase phase);
    // Starts the phase's time over.
    void arm();
    void progress();
    void check();

    Timers& timers_;
    int timeoutMs_;
    bool paced_;
    std::function<void(Phase)> onExpired_;
    NetworkHealth health_;
    Deadline deadline_;
    Phase phase_ = Phase::Connecting;  // Connecting, Starting or Playing
    bool held_ = false;
    std::int64_t lastProgressMs_ = 0;
    std::uint64_t bytesAtLastLook_ = 0;
    int percentAtLastLook_ = 0;
};

// Why an opening whose phase ran out of time failed: a stream that was heard
// is lost, one never heard timed out.
Failure deadlineFailure(bool played);

}  // namespace velmora::engine
