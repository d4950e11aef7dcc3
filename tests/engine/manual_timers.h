#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <utility>

#include "engine/runtime/timers.h"

namespace velmora::engine {

// Timers on a clock the test moves: nothing fires until advanceTo() passes a
// shot's time, then due shots fire in time order, ties in start order. They
// outlive every shot they start.
class ManualTimers final : public Timers {
  public:
    // A runaway (a shot that restarts itself at no delay) ends the test
    // instead of hanging it.
    static constexpr int kMaxShotsPerAdvance = 100000;

    std::int64_t nowMs() const override { return nowMs_; }

    std::unique_ptr<Shot> start(int delayMs, std::function<void()> callback) override {
        const Key key{nowMs_ + std::max(delayMs, 0), started_++};
        due_.emplace(key, std::move(callback));
        return std::make_unique<ManualShot>(due_, key);
    }

    void advanceTo(std::int64_t ms) {
        for (int fired = 0; !due_.empty() && due_.begin()->first.first <= ms;) {
            if (++fired > kMaxShotsPerAdvance) {
                throw std::runtime_error("ManualTimers: shots keep coming without time passing");
            }
            // Out of the queue before it runs: it may drop its own shot.
            auto node = due_.extract(due_.begin());
            nowMs_ = node.key().first;
            node.mapped()();
        }
        nowMs_ = std::max(nowMs_, ms);
    }
    void advance(std::int64_t ms) { advanceTo(nowMs_ + ms); }

  private:
    using Key = std::pair<std::int64_t, std::uint64_t>;
    using Due = std::map<Key, std::function<void()>>;
    class ManualShot final : public Shot {
      public:
        ManualShot(Due& due, Key key) : due_(due), key_(key) {}
        ~ManualShot() override { due_.erase(key_); }

      private:
        Due& due_;
        Key key_;
    };

    std::int64_t nowMs_ = 0;
    std::uint64_t started_ = 0;
    Due due_;
};

}  // namespace velmora::engine
