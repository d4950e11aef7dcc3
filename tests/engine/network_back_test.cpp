// The player mends its connection at once when the machine wakes or the
// network changes: logind and NetworkManager mocked on a private system bus.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "engine_test_support.h"

namespace velmora::engine::testing {
namespace {

constexpr char kAddressVariable[] = "DBUS_SYSTEM_BUS_ADDRESS";
// Every process this starts ends by this bound, whatever the test does.
constexpr char kLifeBound[] = "120";
constexpr char kCallBound[] = "10";
constexpr auto kStopTimeout = 3s;

pid_t bounded(std::vector<std::string> args) {
    args.insert(args.begin(), {"/usr/bin/timeout", kLifeBound});
    return spawn(std::move(args));
}

// A private system bus for one test, with python-dbusmock's logind and
// NetworkManager on it, reached through DBUS_SYSTEM_BUS_ADDRESS while it lives.
class MockSystemBus {
  public:
    enum class Services {
        Nowhere,  // the address names no socket
        Mute,     // a socket that takes connections and never answers
        None,     // a bus with no one on it
        LogindAndNetworkManager,
    };

    // Waits until the services own their names; fails the test when they cannot start.
    explicit MockSystemBus(Services services) { start(services); }
    // Stops every process it started, then the bus.
    ~MockSystemBus() {
        for (auto child = children_.rbegin(); child != children_.rend(); ++child) {
            kill(*child, SIGTERM);
            reap(*child, kStopTimeout);  // timeout passes SIGTERM on to its child
        }
        if (muteSocket_ >= 0) {
            close(muteSocket_);
        }
        unsetenv(kAddressVariable);
        std::filesystem::remove_all(dir_);
    }
    MockSystemBus(const MockSystemBus&) = delete;
    MockSystemBus& operator=(const MockSystemBus&) = delete;

    // Made at once, then waited for: "wake" (logind's PrepareForSleep(false)) or
    // "connectivity=N" (NetworkManager's, 1 none .. 4 full).
    void emit(const std::vector<std::string>& changes) const {
        std::vector<pid_t> calls;
        for (const std::string& change : changes) {
            const bool wake = change == "wake";
            const std::string service = wake ? "login1" : "NetworkManager";
            const std::string name = "org.freedesktop." + service;
            const std::string path = "/org/freedesktop/" + service;
            std::vector<std::string> args = {"/usr/bin/gdbus", "call", "--system", "--dest", name,
                                             "--object-path",  path,   "--method"};
            if (wake) {
                args.insert(args.end(), {"org.freedesktop.DBus.Mock.EmitSignal",
                                         "org.freedesktop.login1.Manager", "PrepareForSleep", "b",
                                         "[<false>]"});
            } else {
                args.insert(args.end(), {"org.freedesktop.DBus.Mock.SetConnectivity",
                                         change.substr(change.find('=') + 1)});
            }
            calls.push_back(bounded(std::move(args)));
        }
        for (const pid_t call : calls) {
            EXPECT_EQ(reap(call, 15s), 0) << "a call on the mock failed";
        }
    }

  private:
    void start(Services services) {
        char pattern[] = "/tmp/velmora-system-bus-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        socket_ = dir_ + "/bus";
        setenv(kAddressVariable, ("unix:path=" + socket_).c_str(), 1);
        if (services == Services::Nowhere) {
            return;
        }
        if (services == Services::Mute) {
            muteSocket_ = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            socket_.copy(address.sun_path, sizeof address.sun_path - 1);
            ASSERT_EQ(bind(muteSocket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            ASSERT_EQ(listen(muteSocket_, 16), 0);
            return;
        }
        // The session bus's policy lets anyone own and call anything: all a mock needs.
        children_.push_back(bounded({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nosyslog",
                                     "--address=unix:path=" + socket_}));
        const auto deadline = Clock::now() + 5s;
        while (!std::filesystem::exists(socket_) && Clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_TRUE(std::filesystem::exists(socket_)) << "no private system bus";
        if (services == Services::None) {
            return;
        }
        for (const char* name : {"logind", "networkmanager"}) {
            children_.push_back(
                bounded({VELMORA_SYSTEM_PYTHON, "-m", "dbusmock", "--system", "--template", name}));
        }
        for (const char* name : {"org.freedesktop.login1", "org.freedesktop.NetworkManager"}) {
            const pid_t wait =
                bounded({"/usr/bin/gdbus", "wait", "--system", "--timeout", kCallBound, name});
            ASSERT_EQ(reap(wait, 15s), 0) << name << " did not come up";
        }
    }

    std::string dir_;
    std::string socket_;
    std::vector<pid_t> children_;  // the daemon first
    int muteSocket_ = -1;
};

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
