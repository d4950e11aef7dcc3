#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "failure.h"
#include "playback/player.h"
#include "ui_thread.h"

namespace velmora::engine {

// The player's state and status line, and what the listener is told about
// them, on the user-interface thread. Changes are queued and delivered one at
// a time, from deliver() or from a delivery posted by deliverSoon(): the
// listener may call back into the player, or open a modal loop in which more
// events are delivered.
class PlayerEvents {
  public:
    explicit PlayerEvents(UiPost post) : post_(std::move(post)) {}
    // A delivery still posted finds the events gone and does nothing.
    ~PlayerEvents() { alive_.reset(); }
    PlayerEvents(const PlayerEvents&) = delete;
    PlayerEvents& operator=(const PlayerEvents&) = delete;

    void setListener(playback::PlayerListener* listener) { listener_ = listener; }
    std::int32_t state() const { return state_; }
    const std::string& status() const { return status_; }

    void setStatus(std::int32_t state, std::string text);
    // A Warning or a MediaError, as the failure's kind says.
    void notice(const Failure& failure);

    void deliver();
    void deliverSoon();

  private:
    struct Event {
        enum class Kind { StatusChange, Warning, MediaError } kind;
        Failure failure;
    };

    UiPost post_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    playback::PlayerListener* listener_ = nullptr;
    std::int32_t state_ = playback::play_state::Undefined;
    std::string status_;
    std::int32_t notifiedState_ = playback::play_state::Undefined;
    std::string notifiedStatus_;
    std::deque<Event> events_;
    bool deliveryPosted_ = false;
};

}  // namespace velmora::engine
