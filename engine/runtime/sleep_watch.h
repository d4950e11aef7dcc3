#pragma once

#include <functional>
#include <memory>

#include "engine/runtime/main_context.h"

namespace velmora::engine {

// Hears logind say that the machine woke from sleep (PrepareForSleep(false)),
// on a system-bus connection of its own that is opened and subscribed without
// ever waiting for the bus. Without a system bus, or without logind on it, it
// stays silent. Construct and destroy on the context's thread; onWoke runs
// there, never after the destructor has begun.
class SleepWatch {
  public:
    SleepWatch(MainContext& context, std::function<void()> onWoke);
    ~SleepWatch();
    SleepWatch(const SleepWatch&) = delete;
    SleepWatch& operator=(const SleepWatch&) = delete;

  private:
    struct Link;
    std::shared_ptr<Link> link_;
};

}  // namespace velmora::engine
