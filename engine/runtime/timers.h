#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace velmora::engine {

// A steady clock and single-shot timers on the user-interface thread. Every
// deadline of the engine runs on one, so that a test can drive them all with
// a clock of its own instead of waiting.
class Timers {
  public:
    // A started timer; dropping it cancels it, and its callback never runs.
    class Shot {
      public:
        virtual ~Shot() = default;
    };

    virtual ~Timers() = default;
    // Milliseconds on a steady clock of any origin.
    virtual std::int64_t nowMs() const = 0;
    // Calls callback once, on the user-interface thread, delayMs from now,
    // unless the shot is dropped first. The callback may drop the shot.
    virtual std::unique_ptr<Shot> start(int delayMs, std::function<void()> callback) = 0;
};

// One deadline, owned by the one type whose phase it bounds: armed where the
// phase starts, disarmed where it ends. Arming again replaces the old one.
class Deadline {
  public:
    explicit Deadline(Timers& timers) : timers_(timers) {}
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    void arm(int delayMs, std::function<void()> onExpired);
    void disarm() { shot_.reset(); }
    bool armed() const { return shot_ != nullptr; }

  private:
    Timers& timers_;
    std::unique_ptr<Timers::Shot> shot_;
};

}  // namespace velmora::engine
