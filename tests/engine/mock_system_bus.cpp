#include "mock_system_bus.h"

#include "engine_test_support.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <utility>

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

}  // namespace

MockSystemBus::MockSystemBus(Services services) { start(services); }

void MockSystemBus::start(Services services) {
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

MockSystemBus::~MockSystemBus() {
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

void MockSystemBus::emit(const std::vector<std::string>& changes) const {
    std::vector<pid_t> calls;
    for (const std::string& change : changes) {
        const bool wake = change == "wake";
        std::vector<std::string> args = {
            "/usr/bin/gdbus",
            "call",
            "--system",
            "--dest",
            wake ? "org.freedesktop.login1" : "org.freedesktop.NetworkManager",
            "--object-path",
            wake ? "/org/freedesktop/login1" : "/org/freedesktop/NetworkManager",
            "--method"};
        if (wake) {
            args.insert(args.end(),
                        {"org.freedesktop.DBus.Mock.EmitSignal", "org.freedesktop.login1.Manager",
                         "PrepareForSleep", "b", "[<false>]"});
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

}  // namespace velmora::engine::testing
