#pragma once

#include <cstdint>
#include <functional>

#include "engine/pipeline/opening.h"
#include "engine/player/reconnect_policy.h"
#include "engine/runtime/failure.h"
#include "engine/runtime/timers.h"
#include "engine/stations/candidate_list.h"
#include "engine/stations/fetched_body.h"
#include "engine/stations/media_address.h"

namespace velmora::engine {

// What the player does next.
struct Step {
    enum class Kind {
        Open,    // open `opening` (of `candidate`); attempt > 0: a reconnect
        Fetch,   // read `candidate` as a playlist
        Wait,    // the connection is lost; reconnect attempt `attempt` follows
        Hold,    // lost while paused: play() opens again
        GiveUp,  // say `failure` once; nothing follows
    };
    Kind kind = Kind::GiveUp;
    Candidate candidate;
    Opening opening;
    bool fromStream = false;  // Fetch: the address did not play as a stream
    int attempt = 0;
    Failure failure;
};

// Owns getting one request played and keeping it playing: which address to
// try (the user's own, or the entries of the playlists it names), when a lost
// connection is tried again, where a file resumes, and when to give up. Its
// deadlines: the pause before each reconnect, the reconnect budget (armed at
// the first loss, never moved by a retry; only steady playing ends it), and
// the failover budget for moving on to further playlist entries. Every
// decision reaches the player as one Step, from a call or from a deadline.
// Pure of GStreamer; runs on the timers' thread.
class Recovery {
  public:
    using Act = std::function<void(const Step&)>;

    // failoverBudgetMs: how long moving on to further entries may go on.
    Recovery(Timers& timers, ReconnectLimits limits, int failoverBudgetMs, Act act);
    Recovery(const Recovery&) = delete;
    Recovery& operator=(const Recovery&) = delete;

    // A new request for the address: forgets everything before it.
    void begin(const MediaAddress& address);
    // Stopped: nothing pending, nothing remembered.
    void reset();
    // Paused: a pending reconnect waits for resume(), which opens where the
    // stream broke off.
    void hold();
    void resume();

    // Sound is heard.
    void playing();
    // The opening broke off; wanted: the user means it to be playing.
    void broken(const Break& broken, bool wanted);
    // The network is usable again after a sleep or a change: a stream that
    // waits to reconnect reconnects now. (One that plays is cut off by the
    // player and comes here through broken(), with a NetworkBack break.)
    void networkBack();
    // A playlist fetch for candidate is done.
    void fetched(const Candidate& candidate, bool fromStream, const FetchedBody& body);

    bool reconnecting() const { return reconnecting_; }
    // The candidate that plays or is being tried.
    const Candidate& current() const { return current_; }

  private:
    bool isLoss(const Break& broken) const;
    void lose(const Break& broken, bool wanted);
    void reconnectNow();
    void giveUp(Failure failure);
    void moveOn(const Failure& cause);
    void tryNext();
    void open(Candidate candidate);
    void fetch(Candidate candidate, bool fromStream);
    Opening openingOf(const Candidate& candidate) const;
    bool failsOver() const { return address_.kind == MediaAddress::Kind::Network; }

    Timers& timers_;
    int failoverBudgetMs_;
    Act act_;

    MediaAddress address_;
    Candidate current_;
    CandidateList candidates_;
    bool refetched_ = false;
    std::int64_t failoverEndsAtMs_ = 0;
    std::optional<Failure> lastCause_;

    ReconnectPolicy policy_;
    bool reconnecting_ = false;
    std::int64_t resumeAtNs_ = -1;  // where a file resumes after a drop
    bool rangeIgnored_ = false;     // the server sends the file whole, from its start
    std::uint64_t skipBytes_ = 0;   // so a resumed download skips what arrived
    Deadline retry_;
    Deadline budget_;
};

}  // namespace velmora::engine
