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
// shot's time, then due shots fire in time order, ties in start order.
class ManualTimers final : public Timers {
  public:
    // A runaway (a shot that restarts itself at no delay) ends the test
    // instead of hanging it.
    static constexpr int kMaxShotsPerAdvance = 100000;

    std::int64_t nowMs() const override { return state_->nowMs; }

    std::unique_ptr<Shot> start(int delayMs, std::function<void()> callback) override {
        const Key key{state_->nowMs + std::max(delayMs, 0), state_->started++};
        state_->due.emplace(key, std::move(callback));
        return std::make_unique<ManualShot>(state_, key);
    }

    void advanceTo(std::int64_t ms) {
        // Held here: a callback may destroy these timers.
        const std::shared_ptr<State> state = state_;
        for (int fired = 0; !state->due.empty() && state->due.begin()->first.first <= ms;) {
            if (++fired > kMaxShotsPerAdvance) {
                throw std::runtime_error("ManualTimers: shots keep coming without time passing");
            }
            // Out of the queue before it runs: it may drop its own shot.
            auto node = state->due.extract(state->due.begin());
            state->nowMs = node.key().first;
            node.mapped()();
        }
        state->nowMs = std::max(state->nowMs, ms);
    }
    void advance(std::int64_t ms) { advanceTo(nowMs() + ms); }

  private:
    using Key = std::pair<std::int64_t, std::uint64_t>;
    struct State {
        std::int64_t nowMs = 0;
        std::uint64_t started = 0;
        std::map<Key, std::function<void()>> due;
    };
    class ManualShot final : public Shot {
      public:
        ManualShot(std::weak_ptr<State> state, Key key) : state_(std::move(state)), key_(key) {}
        ~ManualShot() override {
            if (const auto state = state_.lock()) {
                state->due.erase(key_);
            }
        }

      private:
        std::weak_ptr<State> state_;
        Key key_;
    };

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace velmora::engine
