// Streams that break off, stall or go away under the player: it reconnects
// within its budget, or gives up with one notice.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/runtime/failure.h"
#include "engine_test_support.h"

namespace velmora::engine::testing {
namespace {

// Stations close the connection at a song change: the stream is joined again
// under the sound still buffered, unheard. A server faster than real time fills
// every buffer and then waits for room: that is no stall (its pace keeps a core
// busy, so a gap there would be the machine's).
struct SteadyCase {
    const char* name;
    const char* path;
    Clock::duration watch;
    bool gapless;
};

void PrintTo(const SteadyCase& row, std::ostream* out) { *out << row.name; }

class SteadyStreamTest : public PlayerPipelineTest,
                         public ::testing::WithParamInterface<SteadyCase> {};

TEST_P(SteadyStreamTest, PlaysOnWithoutAGap) {
    constexpr auto kMaxGapMs = 100;
    setUrl(server.url(GetParam().path));
    ASSERT_TRUE(waitForState(ps::Playing));
    const std::size_t statesBefore = listener->states().size();
    runFor(GetParam().watch);
    EXPECT_TRUE(hearsTone());
    const auto states = listener->states();
    EXPECT_TRUE(std::all_of(states.begin() + static_cast<std::ptrdiff_t>(statesBefore),
                            states.end(), [](std::int32_t s) { return s == ps::Playing; }));
    EXPECT_EQ(state(), ps::Playing) << player->status();
    EXPECT_TRUE(!GetParam().gapless || longestSilenceMs() <= kMaxGapMs) << longestSilenceMs();
    EXPECT_TRUE(listener->notices().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Servers, SteadyStreamTest,
    ::testing::Values(
        // Every connection lasts a second: half a second of sound sent at once
        // (as Icecast sends a newcomer), then a second of it paced.
        SteadyCase{"ClosingAtEverySong", "/live?drop_after=24000&burst=8000", 4s, true},
        SteadyCase{"FileFasterThanRealTime", "/tone.mp3?repeat=4", kFullSpeedWatch, false},
        SteadyCase{"LiveFasterThanRealTime", "/live?kbps=0", kFullSpeedWatch, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlayerPipelineTest, AFileCutShortByAServerWithoutRangePlaysWhatArrivedThenWarnsOnce) {
    // 10 s of the tone; the cut comes after 3 s of it, within milliseconds.
    for (const bool cutOnce : {false, true}) {
        SCOPED_TRACE(cutOnce ? "cut once" : "cut on every connection");
        const double heardS = cutOnce ? 10 : 3;
        makePlayer(quick(kQuickRetries));
        const std::size_t framesBefore = sound.frameCount();
        setUrl(server.url(std::string("/truncated.mp3?bytes=160000&range=0&drop_after=48000") +
                          (cutOnce ? "&session=cut" : "")));
        ASSERT_TRUE(waitForState(ps::Playing));
        ASSERT_TRUE(waitForState(ps::Stopped, 20s)) << player->status();
        runFor(kQuietAfterNotice);
        // Nothing repeated, nothing lost but the frame cut in two and the
        // decoder's warm-up at the join: a few frames of 26 ms.
        const auto heardFrames = static_cast<double>(sound.frameCount() - framesBefore);
        EXPECT_NEAR(heardFrames / 44100, heardS, 0.15);
        const auto notices = listener->notices();
        if (!cutOnce) {
            ASSERT_EQ(notices.size(), 1u);
            EXPECT_EQ(notices[0].warningType, static_cast<int>(FailureKind::ConnectionLost));
        } else {
            EXPECT_TRUE(notices.empty());
            EXPECT_EQ(player->status(), "播放结束");
        }
    }
}

// No connection earns the next at once, so nothing spins. A server that holds
// the socket after 8 KB and ignores Range cuts at the same byte each time: all
// it has was heard. Honouring Range, each attempt plays half a second more.
struct GiveUpCase {
    const char* name;
    const char* path;
    FailureKind warning;
    bool killed = false;  // once playing
};

void PrintTo(const GiveUpCase& row, std::ostream* out) { *out << row.name; }

class GiveUpTest : public PlayerPipelineTest, public ::testing::WithParamInterface<GiveUpCase> {};

TEST_P(GiveUpTest, EndsInOneWarningWithinTheBudget) {
    const GiveUpCase& row = GetParam();
    const auto budget = kQuickRetries.giveUpAfterMs * 1ms + 2 * kStallTimeoutMs * 1ms + 1s;
    const auto longestWait = kQuickRetries.maxDelayMs * 1ms + 2 * kStallTimeoutMs * 1ms + 1s;
    makePlayer(quick(kQuickRetries));
    setUrl(server.url(row.path));
    if (row.killed) {
        ASSERT_TRUE(waitForState(ps::Playing));
        server.kill();
    }
    ASSERT_TRUE(waitForState(ps::Reconnecting, 10s));
    const auto firstLoss = Clock::now();
    ASSERT_TRUE(waitForNotice(budget + 2s));
    EXPECT_LE(Clock::now() - firstLoss, budget);
    runFor(kQuietAfterNotice);
    ASSERT_EQ(listener->notices().size(), 1u);
    EXPECT_EQ(listener->notices()[0].warningType, static_cast<int>(row.warning));
    EXPECT_EQ(state(), ps::Stopped);
    EXPECT_TRUE(row.warning != FailureKind::ReconnectsExhausted ||
                listener->sawStatus("连接中断，正在重连（第 2 次）…"));
    const auto& events = listener->events();
    for (std::size_t i = 0; i + 1 < events.size(); ++i) {
        const std::int32_t waiting = events[i].state;
        if (waiting == ps::Transitioning || waiting == ps::Buffering ||
            waiting == ps::Reconnecting) {
            EXPECT_LE(events[i + 1].at - events[i].at, longestWait) << events[i].status;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Servers, GiveUpTest,
    ::testing::Values(GiveUpCase{"ClosesAtOnce", "/live?drop_after=6000",
                                 FailureKind::ReconnectsExhausted},
                      GiveUpCase{"HoldsTheSocketIgnoringRange",
                                 "/tone.mp3?range=0&stall_after=8192", FailureKind::ConnectionLost},
                      GiveUpCase{"HoldsTheSocket", "/tone.mp3?stall_after=8192",
                                 FailureKind::ReconnectsExhausted},
                      GiveUpCase{"Gone", "/live", FailureKind::ReconnectsExhausted, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Sent in real time from the first byte, no burst, chunks up to 60 ms late: the
// margin the start keeps must outlast that jitter, first and after a reconnect.
TEST_F(PlayerPipelineTest, APacedStationWithoutABurstNeverRefillsFirstOrAfterAReconnect) {
    constexpr auto kWatch = 12s;
    setUrl(server.url("/live?br=0&jitter_ms=30&session=paced&stall_after=208000"));  // 13 s
    for (const bool first : {true, false}) {
        SCOPED_TRACE(first ? "first opening" : "reconnected");
        ASSERT_TRUE(waitForState(ps::Playing, 10s));
        EXPECT_FALSE(runUntil([&] { return state() != ps::Playing; }, kWatch)) << player->status();
        ASSERT_TRUE(!first || waitForState(ps::Reconnecting, 10s));
    }
    EXPECT_TRUE(listener->notices().empty());
}

// A restarting source's mount answers "not found" for 1.5 s from the drop: tried
// often meanwhile, the stream plays again soon after the mount is back.
TEST_F(PlayerPipelineTest, PlaysAgainSoonAfterAStationsMountIsBackFromARestart) {
    constexpr auto kSoundBack = 500ms;
    setUrl(server.url("/live?drop_after=24000&session=restart&gone_ms=1500"));
    ASSERT_TRUE(waitForState(ps::Playing));
    ASSERT_TRUE(waitForState(ps::Reconnecting));
    const std::size_t lost = listener->events().size();
    ASSERT_TRUE(waitForState(ps::Playing, 10s));
    const auto& events = listener->events();
    const auto playing =
        std::find_if(events.begin() + static_cast<std::ptrdiff_t>(lost), events.end(),
                     [](const PlayerEvent& e) { return e.state == ps::Playing; });
    ASSERT_NE(playing, events.end());
    const std::vector<std::string> mount = server.lines("/mount?session=restart");
    ASSERT_EQ(mount.size(), 1u);
    const Clock::time_point back{std::chrono::nanoseconds(std::stoll(mount[0].substr(8)))};
    const auto afterBack =
        std::chrono::duration_cast<std::chrono::milliseconds>(playing->at - back);
    RecordProperty("playing_after_mount_back_ms", static_cast<int>(afterBack.count()));
    EXPECT_GE(afterBack, 0ms);
    EXPECT_LE(afterBack, kSoundBack) << afterBack.count() << " ms";
    // Still live: the "not found" pages' lengths are not the stream's.
    EXPECT_FALSE(runUntil([&] { return state() != ps::Playing; }, 3s)) << player->status();
    EXPECT_TRUE(hearsTone());
    EXPECT_TRUE(listener->notices().empty());
}

}  // namespace
}  // namespace velmora::engine::testing
