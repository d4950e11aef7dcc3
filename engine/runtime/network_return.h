#pragma once

#include <cstdint>
#include <functional>

#include "engine/runtime/main_context.h"
#include "engine/runtime/network_monitor_thread.h"
#include "engine/runtime/sleep_watch.h"
#include "engine/runtime/timers.h"

namespace velmora::engine {

// Says when the network is usable again after the machine woke from sleep or
// the network under it changed (another Wi-Fi, a cable, a VPN): the one owner
// of both watches. Their reports come in bursts (a wake brings logind's signal
// and the monitor's changes; a new route several changes), and each burst
// becomes one call of onBack, kQuietMs after its last report, or kLongestWaitMs
// after its first while reports keep coming.
//
// Construct and destroy on the context's thread; onBack runs there.
class NetworkReturn {
  public:
    // One event's reports come within tens of milliseconds of each other;
    // the wait is spent out of the second in which the sound should be back.
    static constexpr int kQuietMs = 150;
    static constexpr int kLongestWaitMs = 500;

    NetworkReturn(MainContext& context, std::function<void()> onBack);
    NetworkReturn(const NetworkReturn&) = delete;
    NetworkReturn& operator=(const NetworkReturn&) = delete;

  private:
    void report();

    Timers& timers_;
    std::function<void()> onBack_;
    Deadline settled_;
    std::int64_t burstStartMs_ = 0;
    // Last: their reports stop before what report() uses is gone.
    SleepWatch sleep_;
    NetworkMonitorThread monitor_;
};

}  // namespace velmora::engine
