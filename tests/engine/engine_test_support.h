#pragma once

// What the engine's tests on real pipelines share: a loopback stream server, a
// capturing sink, the test's thread as the user-interface thread.

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/player/engine_options.h"
#include "engine/player/media_player_factory.h"
#include "engine/test_outputs/test_outputs.h"
#include "playback/player.h"

namespace velmora::engine::testing {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The loopback HTTP stream server (tools/stream_server), started for one test process.
class StreamServer {
  public:
    StreamServer() { start(); }  // waits until it listens; fails the test when it cannot start
    ~StreamServer();
    StreamServer(const StreamServer&) = delete;
    StreamServer& operator=(const StreamServer&) = delete;

    std::string url(const std::string& path) const;           // http://127.0.0.1:PORT/path
    std::string tlsUrl(const std::string& path) const;        // behind a certificate no one trusts
    static int closedPort();                                  // a port nothing listens on
    static std::string mediaFile(const std::string& prefix);  // a cached MP3 by name prefix
    void kill();                                              // stops the server at once
    // A plain answer's lines; /requests?log=key: the Range header of each
    // request tagged log=key, in order, "-" for none.
    std::vector<std::string> lines(const std::string& path) const;

  private:
    void start();

    pid_t pid_ = -1;
    int port_ = 0;
    int tlsPort_ = 0;
};

// One thing the player told its listener.
struct PlayerEvent {
    enum class Kind { Status, Warning, MediaError };
    Kind kind;
    std::int32_t state = 0;  // Status: playState() when it was raised
    std::string status;      // Status: status(); Warning: the description
    std::int32_t warningType = 0;
    Clock::time_point at;
};

class RecordingListener : public playback::PlayerListener {
  public:
    explicit RecordingListener(playback::Player& player) : player_(player) {}

    void onStatusChange() override {
        events_.push_back(
            {PlayerEvent::Kind::Status, player_.playState(), player_.status(), 0, Clock::now()});
    }
    void onWarning(std::int32_t warningType, std::int32_t,
                   const std::string& description) override {
        events_.push_back({PlayerEvent::Kind::Warning, 0, description, warningType, Clock::now()});
    }
    void onMediaError() override {
        events_.push_back({PlayerEvent::Kind::MediaError, 0, {}, 0, Clock::now()});
    }

    const std::vector<PlayerEvent>& events() const { return events_; }
    std::vector<std::int32_t> states() const {  // one per StatusChange
        std::vector<std::int32_t> states;
        for (const PlayerEvent& event : events_) {
            if (event.kind == PlayerEvent::Kind::Status) {
                states.push_back(event.state);
            }
        }
        return states;
    }

    std::vector<PlayerEvent> notices() const {  // Warning and MediaError
        std::vector<PlayerEvent> notices;
        for (const PlayerEvent& event : events_) {
            if (event.kind != PlayerEvent::Kind::Status) {
                notices.push_back(event);
            }
        }
        return notices;
    }

    bool sawStatus(const std::string& status) const {
        return std::any_of(events_.begin(), events_.end(), [&](const PlayerEvent& event) {
            return event.kind == PlayerEvent::Kind::Status && event.status == status;
        });
    }

  private:
    playback::Player& player_;
    std::vector<PlayerEvent> events_;
};

// Decoded sound as the capturing sink plays it (first channel only).
class SoundCapture {
  public:
    AudioOutputFactory output() const { return capture_.output(); }
    std::size_t frameCount() const {
        std::lock_guard lock(mutex_);
        return samples_.size();
    }
    // The share of the power of the last `seconds` of sound that lies at
    // `frequencyHz` (Goertzel), 0..1; 0 when less was captured.
    double toneShare(double frequencyHz, double seconds) const;
    // The longest silence heard since the first sound, up to now: quiet samples, and the
    // time the sink waited past the end of one block for the next one.
    Clock::duration longestSilence() const;

  private:
    void add(const PcmBlock& block);  // on a streaming thread

    mutable std::mutex mutex_;
    std::vector<std::int16_t> samples_;
    int rateHz_ = 0;
    // The sink renders each block when it is due: its arrival is when it is heard.
    Clock::time_point soundEnd_;
    std::optional<Clock::time_point> silentSince_;
    Clock::duration longestSilence_{};
    // Last, so that it is cut off before what add() uses is gone.
    PcmCapture capture_{[this](const PcmBlock& block) { add(block); }};
};

// Runs the main loop and privateContext() (or only the context given) until
// the condition holds or the time is up.
bool runUntil(const std::function<bool()>& condition, Clock::duration timeout,
              GMainContext* only = nullptr);
void runFor(Clock::duration duration, GMainContext* only = nullptr);

// Starts args[0]; what it prints goes to stdoutFd, or nowhere.
pid_t spawn(std::vector<std::string> args, int stdoutFd = -1);
// Waits for pid to end within timeout, then kills it; its exit code, or -1.
int reap(pid_t pid, Clock::duration timeout);
// A loopback socket listening on a port of its own, which it sets; nothing accepts on it.
int listeningLoopback(int& port);

// A main context of the test's own, for the tests that prove the engine runs
// on the context it is given, not on GLib's default one.
GMainContext* privateContext();

namespace ps = playback::play_state;

// No call may hold the user-interface thread longer: one that waited for the
// network or a state change would take seconds; the margin is for a busy machine.
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
inline EngineOptions quick(const ReconnectLimits& limits = {}) {
    EngineOptions options;
    options.stallTimeoutMs = kStallTimeoutMs;
    options.reconnect = limits;
    return options;
}

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
