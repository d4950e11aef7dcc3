#pragma once

// A private system bus for one test, with python-dbusmock's logind and
// NetworkManager on it, reached through DBUS_SYSTEM_BUS_ADDRESS while it lives.

#include <sys/types.h>

#include <string>
#include <vector>

namespace velmora::engine::testing {

class MockSystemBus {
  public:
    enum class Services {
        Nowhere,  // the address names no socket
        Mute,     // a socket that takes connections and never answers
        None,     // a bus with no one on it
        LogindAndNetworkManager,
    };

    // Waits until the services own their names; fails the test when they cannot start.
    explicit MockSystemBus(Services services);
    ~MockSystemBus();  // stops every process it started, then the bus
    MockSystemBus(const MockSystemBus&) = delete;
    MockSystemBus& operator=(const MockSystemBus&) = delete;

    // Each of these is the mock's D-Bus calls, made at once (in parallel)
    // and waited for: "wake" (logind: PrepareForSleep(false)) or
    // "connectivity=N" (NetworkManager's connectivity, 1 none .. 4 full).
    void emit(const std::vector<std::string>& changes) const;

  private:
    void start(Services services);

    std::string dir_;
    std::string socket_;
    std::vector<pid_t> children_;  // the daemon first
    int muteSocket_ = -1;
};

}  // namespace velmora::engine::testing
