// Each phase's deadline and the budgets that end reconnecting and moving on, on
// a clock the test moves: the rows are the session's looks and losses.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/pipeline/phase_watch.h"
#include "engine/player/recovery.h"
#include "engine/runtime/timers.h"

namespace velmora::engine {
namespace {

// Timers on a clock the test moves: nothing fires until advanceTo() passes a
// shot's time, then due shots fire in time order, ties in start order. They
// outlive every shot they start.
class ManualTimers final : public Timers {
  public:
    // A shot that restarts itself at no delay ends the test instead of hanging it.
    static constexpr int kMaxShotsPerAdvance = 100000;

    std::int64_t nowMs() const override { return nowMs_; }

    std::unique_ptr<Shot> start(int delayMs, std::function<void()> callback) override {
        const Key key{nowMs_ + std::max(delayMs, 0), started_++};
        due_.emplace(key, std::move(callback));
        return std::make_unique<ManualShot>(due_, key);
    }

    void advanceTo(std::int64_t ms) {
        for (int fired = 0; !due_.empty() && due_.begin()->first.first <= ms;) {
            if (++fired > kMaxShotsPerAdvance) {
                throw std::runtime_error("ManualTimers: shots keep coming without time passing");
            }
            // Out of the queue before it runs: it may drop its own shot.
            auto node = due_.extract(due_.begin());
            nowMs_ = node.key().first;
            node.mapped()();
        }
        nowMs_ = std::max(nowMs_, ms);
    }
    void advance(std::int64_t ms) { advanceTo(nowMs_ + ms); }

  private:
    using Key = std::pair<std::int64_t, std::uint64_t>;
    using Due = std::map<Key, std::function<void()>>;
    class ManualShot final : public Shot {
      public:
        ManualShot(Due& due, Key key) : due_(due), key_(key) {}
        ~ManualShot() override { due_.erase(key_); }

      private:
        Due& due_;
        Key key_;
    };

    std::int64_t nowMs_ = 0;
    std::uint64_t started_ = 0;
    Due due_;
};

using Phase = PhaseWatch::Phase;
using Expiry = std::optional<std::pair<Phase, std::int64_t>>;

constexpr int kTimeoutMs = 15000;
constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kNotHeard = NetworkHealth::kUnknownNs;
constexpr std::int64_t kEndMs = 400000;

// From the previous span's end up to untilMs, a look every sample period.
struct Span {
    std::int64_t untilMs;
    std::uint64_t bytesPerLook = 0;
    std::int64_t aheadMs = kNotHeard;  // the first look with sound ahead follows playing()
    std::int64_t aheadStepMs = 0;      // how the sound ahead changes from look to look
    bool wanted = true;
    bool ended = false;
};

struct WatchRow {
    const char* name;
    std::vector<Span> spans;
    Expiry expiry;  // none: the phase outlasts the last span
};

// Bytes until 500 ms, heard from 600 ms on, then as the span says.
std::vector<Span> heardThen(Span span) { return {{500, 1000}, {1000, 1000, 500}, span}; }

const WatchRow kWatches[] = {
    // An answer with headers only delivers no bytes either.
    WatchRow{"ConnectingNoAnswer", {{kEndMs}}, std::pair(Phase::Connecting, 15000)},
    WatchRow{"StartingFromTheLastByte", {{500, 1000}, {kEndMs}}, std::pair(Phase::Starting, 15500)},
    WatchRow{"StartingSlowTrickle", {{kEndMs, 10}}, std::nullopt},
    WatchRow{"EndedBeforeSoundStillTimesOut",
             {{500, 1000}, {kEndMs, 0, kNotHeard, 0, true, true}},
             std::pair(Phase::Starting, 15500)},
    WatchRow{"PlayingFromTheLastByte", heardThen({kEndMs, 0, 500}),
             std::pair(Phase::Playing, 16000)},
    WatchRow{"PlayingTrickle", heardThen({kEndMs, 10, 500}), std::nullopt},
    // A server faster than real time fills every buffer, then waits for room.
    WatchRow{"PlayingWellSuppliedWithoutBytes", heardThen({kEndMs, 0, 2000}), std::nullopt},
    WatchRow{"PlayingEndedPlaysOut", heardThen({kEndMs, 0, 500, -10, true, true}), std::nullopt},
    WatchRow{"RefillingFromRunningDry", heardThen({kEndMs, 0, 500, -100}),
             std::pair(Phase::Refilling, 16600)},
    // Bytes that never become sound ahead (it reads negative) are no refill.
    WatchRow{"RefillingBytesWithoutSound", heardThen({kEndMs, 1000, -1000}),
             std::pair(Phase::Refilling, 16100)},
    WatchRow{"RefillingSlowTrickle", heardThen({kEndMs, 10, 30, 1}), std::nullopt},
    // Held, no phase has a deadline; wanted again, the phase starts afresh.
    WatchRow{"HeldThenWanted",
             {{30000, 0, kNotHeard, 0, false}, {kEndMs}},
             std::pair(Phase::Connecting, 45100)}};

TEST(PhaseDeadlines, ExpireOnlyWithoutTheirPhasesProgress) {
    for (const WatchRow& row : kWatches) {
        SCOPED_TRACE(row.name);
        ManualTimers timers;
        Expiry expiry;
        PhaseWatch watch(timers, kTimeoutMs, true,
                         [&](Phase phase) { expiry = std::pair(phase, timers.nowMs()); });
        std::uint64_t bytes = 0;
        bool heard = false;
        for (const Span& span : row.spans) {
            std::int64_t aheadMs = span.aheadMs;
            // The session ends the opening at its expiry: no look follows.
            while (!expiry && timers.nowMs() < span.untilMs) {
                timers.advance(PhaseWatch::kSamplePeriodMs);
                bytes += span.bytesPerLook;
                if (span.aheadMs != kNotHeard && !std::exchange(heard, true)) {
                    watch.playing();
                }
                const std::int64_t aheadNs = span.aheadMs == kNotHeard ? kNotHeard : aheadMs * kMs;
                watch.look({bytes, aheadNs, span.wanted, span.ended});
                aheadMs += span.aheadStepMs;
            }
        }
        timers.advanceTo(kEndMs);
        EXPECT_EQ(expiry, row.expiry);
    }
}

struct RecoveryRow {
    const char* name;
    const char* uri;
    int failoverMs;
    // Each at its time in ms: P sound is heard, L a stream that played is lost,
    // F an opening fails at its deadline, B the network is back.
    const char* events;
    std::string expect;  // every step, "time what"
};

std::string describe(const Step& step) {
    static constexpr const char* kKinds[] = {"Open", "Fetch", "Wait", "Hold", "GiveUp"};
    std::string text = kKinds[static_cast<int>(step.kind)];
    text += " " + step.candidate.uri.substr(step.candidate.uri.rfind('/') + 1);
    if (step.attempt > 0) {
        text += "#" + std::to_string(step.attempt);
    }
    if (step.kind == Step::Kind::GiveUp) {
        text += step.failure.kind == FailureKind::TimedOut              ? "TimedOut"
                : step.failure.kind == FailureKind::ReconnectsExhausted ? "Exhausted"
                                                                        : "Other";
    }
    return text;
}

const RecoveryRow kRecoveries[] = {
    RecoveryRow{"ReconnectingCountsFromTheFirstLoss", "http://h/a", kEndMs, "P0 L10000 F25250",
                "0 Open a; 10000 Wait #1; 10250 Open a#1; 25250 Wait #2; 26250 Open a#2; "
                "190000 GiveUp Exhausted"},
    // With nothing lost it changes nothing; it ends a wait at once, uncounted.
    RecoveryRow{"TheNetworkBackEndsAWaitOnce", "http://h/a", kEndMs, "P0 B0 L10000 B10100",
                "0 Open a; 10000 Wait #1; 10100 Open a#1; 190000 GiveUp Exhausted"},
    RecoveryRow{"PlayingAgainEndsReconnecting", "http://h/a", kEndMs, "P0 L10000 P10750",
                "0 Open a; 10000 Wait #1; 10250 Open a#1"},
    RecoveryRow{"EntriesWithinTheFailoverBudget", "http://h/list.pls", 40000,
                "F15000 F30000 F45000",
                "0 Fetch list.pls; 0 Open a; 15000 Open b; 30000 Open c; 45000 GiveUp TimedOut"},
    // An entry that played is reconnected, not passed over.
    RecoveryRow{
        "EntryPlayedThenLost", "http://h/list.pls", kEndMs, "P500 L10000",
        "0 Fetch list.pls; 0 Open a; 10000 Wait #1; 10250 Open a#1; 190000 GiveUp Exhausted"},
    RecoveryRow{"EntriesTwoPassesThenGiveUp", "http://h/list.pls", kEndMs,
                "F15000 F30000 F45000 F60000 F75000 F90000",
                "0 Fetch list.pls; 0 Open a; 15000 Open b; 30000 Open c; 45000 Fetch list.pls; "
                "45000 Open a; 60000 Open b; 75000 Open c; 90000 GiveUp TimedOut"}};

TEST(RecoveryBudgets, EndWhenTheRowSays) {
    for (const RecoveryRow& row : kRecoveries) {
        SCOPED_TRACE(row.name);
        ManualTimers timers;
        std::string log;
        std::optional<Recovery> recovery;
        recovery.emplace(timers, ReconnectLimits{}, row.failoverMs, [&](const Step& step) {
            log +=
                (log.empty() ? "" : "; ") + std::to_string(timers.nowMs()) + " " + describe(step);
            if (step.kind == Step::Kind::Fetch) {
                recovery->fetched(
                    step.candidate, false,
                    {FetchedBody::Outcome::Complete,
                     "[playlist]\nFile1=http://h/a\nFile2=http://h/b\nFile3=http://h/c\n",
                     step.candidate.uri});
            }
        });
        recovery->begin(readMediaAddress(row.uri));
        std::istringstream events(row.events);
        char what = 0;
        for (std::int64_t atMs = 0; events >> what >> atMs;) {
            timers.advanceTo(atMs);
            if (what == 'P') {
                recovery->playing();
            } else if (what == 'B') {
                recovery->networkBack();
            } else {
                const bool played = what == 'L';
                recovery->broken({.cause = Break::Cause::Deadline,
                                  .failure = deadlineFailure(played),
                                  .networkLoss = true,
                                  .played = played},
                                 true);
            }
        }
        timers.advanceTo(kEndMs);
        EXPECT_EQ(log, row.expect);
    }
}

}  // namespace
}  // namespace velmora::engine
