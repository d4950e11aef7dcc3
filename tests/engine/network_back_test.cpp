// The player mends its connection at once when the machine wakes or the
// network changes: logind and NetworkManager mocked on a private system bus.
#include <optional>

#include "engine_test_support.h"
#include "mock_system_bus.h"

namespace velmora::engine::testing {
namespace {

using Services = MockSystemBus::Services;

constexpr auto kSoundBack = 1s;
constexpr auto kQuiet = 1s;  // a second reconnect, or a wrong one, would come within this
constexpr std::size_t kHeardFrames = 8820;  // 0.2 s at 44.1 kHz
constexpr int kRateHz = 44100;
constexpr double kFileSeconds = 6;
constexpr int kFileBytes = 96000;  // kFileSeconds of the tone at 128 kbit/s

class NetworkBackTest : public PlayerPipelineTest {
  protected:
    void SetUp() override { warmUp(); }
    void TearDown() override {
        PlayerPipelineTest::TearDown();
        const auto start = Clock::now();
        player.reset();
        EXPECT_LT(Clock::now() - start, kShutdownBound) << "closing the player waited";
    }

    void start(const std::string& url, EngineOptions options = {}) {
        timed([&] { makePlayer(std::move(options)); });
        setUrl(url);
        ASSERT_TRUE(waitForState(ps::Playing));
        ASSERT_TRUE(hearsTone());
    }

    // Emits changes; then a new connection plays within kSoundBack, without a
    // notice or any status but "playing".
    void expectSoundBackAfter(const std::vector<std::string>& changes) {
        const int openingsBefore = openings;
        const std::size_t eventsBefore = listener->events().size();
        const auto changed = Clock::now();
        bus->emit(changes);
        ASSERT_TRUE(runUntil([&] { return openings > openingsBefore; }, kSoundBack));
        const std::size_t framesAtReopen = sound.frameCount();
        ASSERT_TRUE(runUntil([&] { return sound.frameCount() > framesAtReopen + kHeardFrames; },
                             kSoundBack));
        const auto backMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - changed).count();
        RecordProperty("sound_back_ms", static_cast<int>(backMs));
        EXPECT_LT(backMs, std::chrono::milliseconds(kSoundBack).count());
        EXPECT_TRUE(hearsTone());
        runFor(kQuiet);
        EXPECT_EQ(openings, openingsBefore + 1) << "one reconnect for the burst";
        for (std::size_t i = eventsBefore; i < listener->events().size(); ++i) {
            EXPECT_EQ(listener->events()[i].state, ps::Playing) << listener->events()[i].status;
        }
        EXPECT_TRUE(listener->notices().empty());
    }

    std::optional<MockSystemBus> bus;  // outlives the player
};

TEST_F(NetworkBackTest, WakingFromSleepCutsAReconnectsWaitShort) {
    bus.emplace(Services::LogindAndNetworkManager);
    EngineOptions slowRetries;
    slowRetries.reconnect.firstDelayMs = 10000;
    slowRetries.reconnect.quickForMs = 0;
    // Dropped, and "not found" when joined again at once: a reconnect's wait.
    start(server.url("/live?drop_after=24000&session=retry&gone=1"), slowRetries);
    ASSERT_TRUE(runUntil([&] { return player->playState() == ps::Reconnecting; }, kStartTimeout));
    const auto woke = Clock::now();
    bus->emit({"wake"});
    ASSERT_TRUE(runUntil([&] { return player->playState() == ps::Playing; }, kSoundBack));
    EXPECT_LT(Clock::now() - woke, kSoundBack);
    EXPECT_TRUE(hearsTone());
    EXPECT_EQ(openings, 2) << "the wake's connection, and no retry besides";
    EXPECT_TRUE(listener->notices().empty());
}

TEST_F(NetworkBackTest, WakingFromSleepResumesAFileWhereItWas) {
    bus.emplace(Services::LogindAndNetworkManager);
    start(server.url("/truncated.mp3?bytes=" + std::to_string(kFileBytes) + "&log=file"));
    runFor(2s);
    expectSoundBackAfter({"wake"});
    ASSERT_TRUE(runUntil([&] { return player->playState() == ps::Stopped; }, 10s));
    // Started over, it would play the 2 s before the wake twice.
    EXPECT_NEAR(static_cast<double>(sound.frameCount()) / kRateHz, kFileSeconds, 0.5);
    const std::vector<std::string> asked = server.lines("/requests?log=file");
    ASSERT_GE(asked.size(), 2u);
    EXPECT_EQ(asked.front(), "-");
    EXPECT_TRUE(asked.back().starts_with("bytes=")) << asked.back();
}

// Paused or stopped, nothing reconnects.
TEST_F(NetworkBackTest, ANetworkChangeReconnectsOncePerBurstWhilePlayingOnly) {
    bus.emplace(Services::LogindAndNetworkManager);
    start(server.url("/live?log=change"));
    // The network going is no reason to reconnect; its coming back is.
    bus->emit({"connectivity=1"});
    runFor(kQuiet);
    EXPECT_EQ(openings, 1);
    expectSoundBackAfter({"connectivity=4"});
    // A wake brings logind's signal and NetworkManager's change together.
    bus->emit({"connectivity=1"});
    expectSoundBackAfter({"connectivity=4", "wake"});
    player->controls().pause();
    bus->emit({"wake", "connectivity=4"});
    runFor(kQuiet);
    EXPECT_EQ(openings, 3);
    EXPECT_EQ(player->playState(), ps::Paused);
    player->controls().play();  // a short pause: on from the buffer, as before
    runFor(500ms);
    EXPECT_EQ(player->playState(), ps::Playing);
    player->controls().stop();
    bus->emit({"wake", "connectivity=1"});
    bus->emit({"connectivity=4"});
    runFor(kQuiet);
    EXPECT_EQ(openings, 3);
    EXPECT_EQ(player->playState(), ps::Stopped);
    EXPECT_EQ(server.lines("/requests?log=change").size(), 3u);
    EXPECT_TRUE(listener->notices().empty());
}

TEST_F(NetworkBackTest, WithoutASystemBusOrItsServicesPlaysAsBefore) {
    for (const Services services : {Services::Nowhere, Services::Mute, Services::None}) {
        SCOPED_TRACE(static_cast<int>(services));
        bus.emplace(services);
        start(server.url("/live"));  // the player is made and closed without waiting
        runFor(kQuiet);
        EXPECT_EQ(player->playState(), ps::Playing);
        EXPECT_EQ(openings, 1);
        EXPECT_TRUE(listener->notices().empty());
        TearDown();
        bus.reset();
        openings = 0;
    }
}

}  // namespace
}  // namespace velmora::engine::testing
