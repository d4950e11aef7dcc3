#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "engine/runtime/failure.h"
#include "engine/runtime/main_context.h"
#include "playback/player.h"

namespace velmora::engine {

// A player's state and status line, and what its listener is owed: status
// changes and notices, delivered in the order they arose, by one task posted
// to the main loop as the first of them is queued, so never from inside a
// call on the player or a callback of its session. Used on the user-interface
// thread only.
class ListenerQueue {
  public:
    explicit ListenerQueue(const MainContext& context);
    ~ListenerQueue();  // drops what was not delivered
    ListenerQueue(const ListenerQueue&) = delete;
    ListenerQueue& operator=(const ListenerQueue&) = delete;

    void setListener(playback::PlayerListener* listener) { listener_ = listener; }
    std::int32_t state() const { return state_; }
    const std::string& status() const { return status_; }

    // Queues a status change when either differs from what is shown.
    void setStatus(std::int32_t state, std::string text);
    void queueWarning(std::int32_t warningType, std::int32_t param, std::string description);
    void queueMediaError();
    void queueMediaChange();
    // A Warning or a MediaError, as the failure's kind says.
    void queueNotice(const Failure& failure);

    // Runs task later, from the main loop, unless the queue, and with it the
    // player that owns it, is gone by then.
    void postLater(std::function<void()> task);

  private:
    struct Event {
        enum class Kind { StatusChange, Warning, MediaError, MediaChange } kind;
        std::int32_t warningType = 0;
        std::int32_t param = 0;
        std::string description;
    };

    void queue(Event event);
    void deliver();

    const MainContext& context_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // posted tasks check it
    playback::PlayerListener* listener_ = nullptr;
    std::int32_t state_ = playback::play_state::Undefined;
    std::string status_;
    std::int32_t notifiedState_ = playback::play_state::Undefined;
    std::string notifiedStatus_;
    std::deque<Event> events_;
    bool deliveryPosted_ = false;
};

}  // namespace velmora::engine
