// Every waiting phase against every way a server stalls, on a clock the test
// moves: the harness plays the pipeline (the bytes and the sound ahead that
// PhaseWatch looks at every 100 ms) and the player (carrying out Recovery's
// steps).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

#include "engine/pipeline/phase_watch.h"
#include "engine/player/recovery.h"
#include "manual_timers.h"

namespace velmora::engine {
namespace {

constexpr int kTimeoutMs = 15000;
constexpr std::int64_t kMs = 1'000'000;
constexpr std::uint64_t kBytesPerSoundMs = 16;  // 128 kbit/s
constexpr std::int64_t kStartBufferMs = 1000;   // sound queued before it is heard

// What the server does for one connection, as a function of the time since it
// was opened.
struct Server {
    int speedPct = 0;                 // sound delivered per real time; 0: nothing ever comes
    std::int64_t capMs = -1;          // sound sent, then nothing more; -1: no end
    std::int64_t aheadLostAtMs = -1;  // from here the sound ahead reads negative for good
    bool file = false;                // has a length (resumable, unlike a radio stream)
    bool ignoresRange = false;        // sends the file whole from its start every time
};

constexpr Server kNoAnswer{};
constexpr Server kStallsBeforeSound{.speedPct = 100, .capMs = 500};
constexpr Server kStallsAfterSound{.speedPct = 200, .capMs = 3000};
constexpr Server kTrickle{.speedPct = 50};
constexpr Server kSlowTrickle{.speedPct = 5};
constexpr Server kAheadLost{.speedPct = 200, .aheadLostAtMs = 3000};
constexpr Server kFileResentWhole{
    .speedPct = 200, .capMs = 3000, .file = true, .ignoresRange = true};
// Bytes every look, but what was heard must be read again first: at this pace
// that takes five minutes.
constexpr Server kFileResentWholeCrawling{.speedPct = 1, .file = true, .ignoresRange = true};

// Long enough that only the tries per pass end moving on.
constexpr int kAmpleFailoverMs = 600000;

constexpr const char* kPls =
    "[playlist]\nNumberOfEntries=3\nFile1=http://h/a\nFile2=http://h/b\nFile3=http://h/c\n";

struct Row {
    const char* name;
    const char* uri;
    Server first;
    std::optional<Server> attempts;  // reconnects; the first's behaviour when unset
    std::int64_t untilMs;
    std::string expect;  // every event up to untilMs, "time what"
    int failoverMs;      // how long moving on to further entries may go on
    int laterFrom = 0;   // this attempt on behaves as `later` says
    std::optional<Server> later;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

std::string lastSegment(const std::string& uri) { return uri.substr(uri.rfind('/') + 1); }

std::string kindName(FailureKind kind) {
    switch (kind) {
        case FailureKind::TimedOut:
            return "TimedOut";
        case FailureKind::ConnectionLost:
            return "ConnectionLost";
        case FailureKind::ReconnectsExhausted:
            return "ReconnectsExhausted";
        default:
            return std::to_string(static_cast<int>(kind));
    }
}

class Rig;

// One opening as the session runs it.
class SimOpening {
  public:
    SimOpening(Rig& rig, const Server& server, const Opening& opening);

  private:
    void tick();
    void expired();

    Rig& rig_;
    Server server_;
    Opening opening_;
    std::int64_t startMs_;
    PhaseWatch watch_;
    std::unique_ptr<Timers::Shot> sampler_;
    bool played_ = false;
    bool running_ = false;  // the position moves
    bool ranDry_ = false;   // noted once: a trickle runs dry again and again
    std::int64_t positionMs_ = 0;
    std::uint64_t bytes_ = 0;
    std::int64_t lastLookMs_;
};

// The player: carries out Recovery's steps and keeps the record.
class Rig {
  public:
    explicit Rig(const Row& row)
        : row_(row),
          recovery_(timers_, ReconnectLimits{}, row.failoverMs,
                    [this](const Step& step) { act(step); }) {}

    void run() {
        recovery_.begin(readMediaAddress(row_.uri));
        timers_.advanceTo(row_.untilMs);
    }

    ManualTimers& timers() { return timers_; }
    const std::string& log() const { return log_; }
    bool gaveUp() const { return gaveUp_; }

    void note(const std::string& event) {
        log_ += (log_.empty() ? "" : "; ") + std::to_string(timers_.nowMs()) + " " + event;
    }
    void playing() {
        note("play");
        recovery_.playing();
    }
    void broken(const Break& broken) {
        // Dies after the step it leads to, as the session does inside its own callback.
        const std::unique_ptr<SimOpening> done = std::move(opening_);
        recovery_.broken(broken, true);
    }

  private:
    void act(const Step& step) {
        const std::string name = lastSegment(step.candidate.uri);
        switch (step.kind) {
            case Step::Kind::Open: {
                note("Open " + name + (step.attempt > 0 ? "#" + std::to_string(step.attempt) : "") +
                     (step.opening.skipBytes > 0 ? " skip " + std::to_string(step.opening.skipBytes)
                                                 : ""));
                const Server& server = step.attempt == 0 ? row_.first
                                       : row_.later && step.attempt >= row_.laterFrom
                                           ? *row_.later
                                           : row_.attempts.value_or(row_.first);
                opening_ = std::make_unique<SimOpening>(*this, server, step.opening);
                break;
            }
            case Step::Kind::Fetch:
                note("Fetch " + name);
                fetch_ = timers_.start(
                    0, [this, candidate = step.candidate, fromStream = step.fromStream] {
                        recovery_.fetched(candidate, fromStream,
                                          {FetchedBody::Outcome::Complete, kPls, candidate.uri});
                    });
                break;
            case Step::Kind::Wait:
                note("Wait " + std::to_string(step.attempt));
                break;
            case Step::Kind::Hold:
                note("Hold");
                break;
            case Step::Kind::GiveUp:
                note("GiveUp " + kindName(step.failure.kind));
                gaveUp_ = true;
                opening_.reset();
                break;
        }
    }

    const Row& row_;
    ManualTimers timers_;
    Recovery recovery_;
    std::unique_ptr<SimOpening> opening_;
    std::unique_ptr<Timers::Shot> fetch_;
    std::string log_;
    bool gaveUp_ = false;
};

SimOpening::SimOpening(Rig& rig, const Server& server, const Opening& opening)
    : rig_(rig),
      server_(server),
      opening_(opening),
      startMs_(rig.timers().nowMs()),
      watch_(rig.timers(), kTimeoutMs, true, [this](PhaseWatch::Phase) { expired(); }),
      sampler_(rig.timers().start(PhaseWatch::kSamplePeriodMs, [this] { tick(); })),
      lastLookMs_(startMs_) {}

void SimOpening::tick() {
    const std::int64_t nowMs = rig_.timers().nowMs();
    const std::int64_t sinceLookMs = nowMs - std::exchange(lastLookMs_, nowMs);
    const std::int64_t elapsedMs = nowMs - startMs_;
    std::int64_t sentMs = elapsedMs * server_.speedPct / 100;
    if (server_.capMs >= 0) {
        sentMs = std::min(sentMs, server_.capMs);
    }
    bytes_ = static_cast<std::uint64_t>(sentMs) * kBytesPerSoundMs;
    // The skipped bytes are dropped at the source: they never become sound.
    const auto soundMs = static_cast<std::int64_t>((bytes_ - std::min(bytes_, opening_.skipBytes)) /
                                                   kBytesPerSoundMs);
    if (running_) {
        positionMs_ = std::min(positionMs_ + sinceLookMs, soundMs);
    }
    if (!played_ && soundMs >= kStartBufferMs) {
        played_ = running_ = true;
        watch_.playing();
        rig_.playing();
    }
    const std::int64_t aheadNs = !played_ ? NetworkHealth::kUnknownNs
                                 : server_.aheadLostAtMs >= 0 && elapsedMs >= server_.aheadLostAtMs
                                     ? -1000 * kMs
                                     : (soundMs - positionMs_) * kMs;
    const PhaseWatch::Look look{bytes_, aheadNs, true, false};
    const PhaseWatch::Supply supply = watch_.look(look);
    // As the session looks: seldom while much is ahead, which the deadlines must not notice.
    sampler_ = rig_.timers().start(watch_.nextLookMs(look), [this] { tick(); });
    switch (supply) {
        case PhaseWatch::Supply::RanDry:
            running_ = false;
            if (!std::exchange(ranDry_, true)) {
                rig_.note("RanDry");
            }
            break;
        case PhaseWatch::Supply::Refilled:
            running_ = true;
            break;
        case PhaseWatch::Supply::Refilling:
        case PhaseWatch::Supply::Unchanged:
            break;
    }
}

// The facts the pipeline would hold; the failure as the session reads the expiry.
void SimOpening::expired() {
    rig_.broken({.cause = Break::Cause::Deadline,
                 .failure = deadlineFailure(played_),
                 .networkLoss = true,
                 .hadData = bytes_ > 0,
                 .played = played_,
                 .live = !server_.file,
                 .positionNs = played_ ? positionMs_ * kMs : -1,
                 .bytes = bytes_,
                 .skippedBytes = opening_.skipBytes,
                 .rangeIgnored = server_.ignoresRange});
}

class DeadlineTable : public ::testing::TestWithParam<Row> {};

TEST_P(DeadlineTable, NextEventAndWhen) {
    const Row& row = GetParam();
    Rig rig(row);
    rig.run();
    EXPECT_EQ(rig.log(), row.expect);
    if (rig.gaveUp()) {
        EXPECT_EQ(rig.timers().pending(), 0u) << "a timer outlived giving up";
    }
}

// A stream's row, its address a radio station's or a file's.
Row stream(const char* name, Server first, std::optional<Server> attempts, std::int64_t untilMs,
           std::string expect) {
    return {name,
            first.file ? "http://h/f.mp3" : "http://h/a",
            first,
            attempts,
            untilMs,
            expect,
            kAmpleFailoverMs,
            0,
            {}};
}

// A playlist's row: every entry behaves alike.
Row entries(const char* name, Server server, int failoverMs, std::int64_t untilMs,
            std::string expect) {
    return {name, "http://h/list.pls", server, {}, untilMs, expect, failoverMs, 0, {}};
}

// Reconnects double their pause from 1 s, capped at 30 s; each failed attempt
// costs its own deadline on top.
INSTANTIATE_TEST_SUITE_P(
    Phases, DeadlineTable,
    ::testing::Values(
        // An answer with no body looks no different.
        stream("ConnectingNoAnswer", kNoAnswer, {}, 60000, "0 Open a; 15000 GiveUp TimedOut"),
        stream("StartingStallsFromTheLastByte", kStallsBeforeSound, {}, 60000,
               "0 Open a; 15500 GiveUp TimedOut"),
        // Starting and refilling both outlast the deadline, with progress throughout.
        stream("StartingAndRefillingSlowTrickle", kSlowTrickle, {}, 90000,
               "0 Open a; 20000 play; 21064 RanDry"),
        stream("PlayingTrickle", kTrickle, {}, 90000, "0 Open a; 2000 play; 3978 RanDry"),
        stream("PlayingThenRefillingStall", kStallsAfterSound, {}, 20000,
               "0 Open a; 500 play; 3550 RanDry; 18550 Wait 1; 18800 Open a#1; "
               "19300 play"),
        // Bytes still flow, but nothing plays: only a new connection helps.
        // (A chained Ogg's next song no longer reads so: the sound ahead is
        // measured in running time, which goes on across it.)
        stream("PlayingSoundAheadLost", kAheadLost, {}, 23000,
               "0 Open a; 500 play; 3700 RanDry; 18700 Wait 1; 18950 Open a#1; "
               "19450 play; 22650 RanDry"),
        stream("PlayingFileResentWhole", kFileResentWhole, {}, 200000,
               "0 Open f.mp3; 500 play; 3550 RanDry; 18550 Wait 1; "
               "18800 Open f.mp3#1 skip 48000; 35300 GiveUp ConnectionLost"),
        stream("ReconnectingNoAnswer", kStallsAfterSound, kNoAnswer, 400000,
               "0 Open a; 500 play; 3550 RanDry; 18550 Wait 1; 18800 Open a#1; "
               "33800 Wait 2; 34800 Open a#2; 49800 Wait 3; 51800 Open a#3; "
               "66800 Wait 4; 70800 Open a#4; 85800 Wait 5; 93800 Open a#5; "
               "108800 Wait 6; 124800 Open a#6; 139800 Wait 7; 169800 Open a#7; "
               "184800 GiveUp ReconnectsExhausted"),
        // Playing again ends the reconnect budget: nothing gives up later.
        stream("ReconnectingTrickle", kStallsAfterSound, kTrickle, 400000,
               "0 Open a; 500 play; 3550 RanDry; 18550 Wait 1; 18800 Open a#1; "
               "20800 play; 22778 RanDry"),
        // An attempt that keeps making progress is ended by the reconnect
        // budget, counted from the first loss and never from a later one.
        Row{"ReconnectingCrawlOutlastsTheBudget", "http://h/f.mp3", kFileResentWhole, kNoAnswer,
            400000,
            "0 Open f.mp3; 500 play; 3550 RanDry; 18550 Wait 1; "
            "18800 Open f.mp3#1 skip 48000; 33800 Wait 2; "
            "34800 Open f.mp3#2 skip 48000; 49800 Wait 3; "
            "51800 Open f.mp3#3 skip 48000; 198550 GiveUp ReconnectsExhausted",
            kAmpleFailoverMs, 3, kFileResentWholeCrawling},
        entries("EntriesNoAnswerFailoverBudget", kNoAnswer, 40000, 200000,
                "0 Fetch list.pls; 0 Open a; 15000 Open b; 30000 Open c; 45000 GiveUp TimedOut"),
        entries("EntriesStallTwoPasses", kStallsBeforeSound, kAmpleFailoverMs, 200000,
                "0 Fetch list.pls; 0 Open a; 15500 Open b; 31000 Open c; 46500 Fetch list.pls; "
                "46500 Open a; 62000 Open b; 77500 Open c; 93000 GiveUp TimedOut"),
        // A lost entry that played is reconnected, not passed over.
        entries("EntryPlayedThenStalls", kStallsAfterSound, kAmpleFailoverMs, 20000,
                "0 Fetch list.pls; 0 Open a; 500 play; 3550 RanDry; 18550 Wait 1; "
                "18800 Open a#1; 19300 play")),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::engine
