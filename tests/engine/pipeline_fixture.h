// The engine on a real pipeline: a loopback stream server, a capturing sink,
// the main loop of the test's thread as the user-interface thread. Every
// test of a real pipeline derives from PlayerPipelineTest.
#pragma once

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <utility>

#include "engine/player/media_player_factory.h"
#include "engine_test_support.h"

namespace velmora::engine::testing {

namespace ps = playback::play_state;

// No call may hold the user-interface thread longer. A call that waited for
// the network or for a state change would take seconds on the stalling
// servers below; the margin is for a machine busy with other work.
constexpr auto kMaxCall = 100ms;
constexpr auto kStartTimeout = 5s;
constexpr auto kFailTimeout = 20s;         // an offline resolver may take its time
constexpr auto kQuietAfterNotice = 500ms;  // a second notice would come within this
constexpr double kToneHz = 440;
constexpr double kOtherHz = 1000;
constexpr double kToneSeconds = 0.5;
constexpr int kStallTimeoutMs = 1500;
// Long enough for every buffer to fill and the source to wait for room.
constexpr auto kFullSpeedWatch = 10s;
// Budgets scaled down from minutes to seconds: steady playing never reached.
constexpr ReconnectLimits kQuickRetries{200, 400, 6000, 30000};
constexpr int kLifecycleRounds = 200;
constexpr auto kShutdownBound = 2s;
// Idle threads GLib's pools keep for later (streaming tasks, the resolver).
constexpr std::size_t kPoolThreads = 12;

inline std::size_t threadCount() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                      std::filesystem::directory_iterator()));
}

// A lost stream is noticed within seconds, not the default's fifteen.
inline EngineOptions quick() {
    EngineOptions options;
    options.stallTimeoutMs = kStallTimeoutMs;
    return options;
}

inline EngineOptions retrying(const ReconnectLimits& limits) {
    EngineOptions options = quick();
    options.reconnect = limits;
    return options;
}

inline const std::string kConnecting = "正在连接 127.0.0.1…";

class PlayerPipelineTest : public ::testing::Test {
  protected:
    // The first pipeline of a process loads plugins; that happens before any
    // call is timed.
    static void warmUp() {
        static bool done = false;
        if (std::exchange(done, true)) {
            return;
        }
        // A GLib critical (a wrong unref, a bad cast) is a bug: stop there.
        g_log_set_always_fatal(
            static_cast<GLogLevelFlags>(G_LOG_FATAL_MASK | G_LOG_LEVEL_CRITICAL));
        EngineOptions options;
        options.audioOutput = nullOutput();
        ThreadKeeper threads;
        auto player = createMediaPlayer({}, threads, std::move(options));
        player->setURL(StreamServer::mediaFile("tone-440hz-128k"));
        ASSERT_TRUE(runUntil([&] { return player->playState() == ps::Playing; }, kStartTimeout));
    }

    // Plays into the capture unless the options name an output; counts the openings.
    void makePlayer(EngineOptions options = quick(), playback::PlayerSettings settings = {}) {
        if (!options.audioOutput.make) {
            options.audioOutput = sound.output();
        }
        options.audioOutput.make = [this, make = options.audioOutput.make] {
            ++openings;
            return make();
        };
        player = createMediaPlayer(settings, threads, std::move(options));
        listener = std::make_unique<RecordingListener>(*player);
        player->setListener(listener.get());
    }

    void SetUp() override {
        warmUp();
        makePlayer();
    }

    void TearDown() override {
        if (player) {
            player->setListener(nullptr);
        }
    }

    // Every call on the player goes through here: none may take longer than kMaxCall.
    template <typename Call>
    auto timed(Call&& call) {
        const auto start = Clock::now();
        struct Check {
            Clock::time_point start;
            ~Check() { EXPECT_LT(Clock::now() - start, kMaxCall) << "a call held the thread"; }
        } check{start};
        return call();
    }
    void setUrl(const std::string& url) {
        timed([&] { player->setURL(url); });
    }
    void play() {
        timed([&] { player->controls().play(); });
    }
    void pause() {
        timed([&] { player->controls().pause(); });
    }
    void stop() {
        timed([&] { player->controls().stop(); });
    }
    std::int32_t state() {
        return timed([&] { return player->playState(); });
    }

    // Until the listener has been told, which comes after the player's state changes.
    bool waitForState(std::int32_t wanted, Clock::duration timeout = kStartTimeout) {
        return runUntil(
            [&] {
                const auto told = listener->states();
                return state() == wanted && !told.empty() && told.back() == wanted;
            },
            timeout);
    }
    bool waitForNotice(Clock::duration timeout = kFailTimeout) {
        return runUntil([&] { return !listener->notices().empty(); }, timeout);
    }
    bool hearsTone() {
        return runUntil(
            [&] {
                return sound.toneShare(kToneHz, kToneSeconds) > 0.9 &&
                       sound.toneShare(kOtherHz, kToneSeconds) < 0.01;
            },
            kStartTimeout);
    }

    // Whether the player said it was buffering after the sound had started.
    bool refilledAfterFirstSound() const {
        bool heard = false;
        for (const PlayerEvent& event : listener->events()) {
            heard =
                heard || (event.kind == PlayerEvent::Kind::Status && event.state == ps::Playing);
            if (heard && event.status.starts_with("正在缓冲")) {
                return true;
            }
        }
        return false;
    }
    std::int64_t longestSilenceMs() {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(sound.longestSilence()).count();
        RecordProperty("longest_silence_ms", static_cast<int>(ms));
        return ms;
    }

    StreamServer server;
    SoundCapture sound;
    ThreadKeeper threads;  // outlives the players
    std::unique_ptr<playback::Player> player;
    std::unique_ptr<RecordingListener> listener;
    int openings = 0;  // of the audio output: one per connection that played
};

// The states in the order reported, each repeat folded (buffering percentages).
inline std::vector<std::int32_t> folded(std::vector<std::int32_t> states) {
    states.erase(std::unique(states.begin(), states.end()), states.end());
    return states;
}

}  // namespace velmora::engine::testing
