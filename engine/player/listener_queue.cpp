#include "engine/player/listener_queue.h"

#include <utility>

namespace velmora::engine {

ListenerQueue::ListenerQueue(const MainContext& context) : context_(context) {}

ListenerQueue::~ListenerQueue() {
    listener_ = nullptr;
    alive_.reset();
}

void ListenerQueue::setStatus(std::int32_t state, std::string text) {
    if (state == state_ && text == status_) {
        return;
    }
    state_ = state;
    status_ = std::move(text);
    queue({Event::Kind::StatusChange, 0, 0, {}});
}

void ListenerQueue::queueWarning(std::int32_t warningType, std::int32_t param,
                                 std::string description) {
    queue({Event::Kind::Warning, warningType, param, std::move(description)});
}

void ListenerQueue::queueMediaError() { queue({Event::Kind::MediaError, 0, 0, {}}); }

void ListenerQueue::queueMediaChange() { queue({Event::Kind::MediaChange, 0, 0, {}}); }

void ListenerQueue::queueNotice(const Failure& failure) {
    if (noticeFor(failure.kind) == Notice::Warning) {
        queueWarning(static_cast<std::int32_t>(failure.kind), failure.httpStatus,
                     failureStatusText(failure));
    } else {
        queueMediaError();
    }
}

void ListenerQueue::queue(Event event) {
    events_.push_back(std::move(event));
    if (deliveryPosted_) {
        return;
    }
    deliveryPosted_ = true;
    postLater([this] {
        deliveryPosted_ = false;
        deliver();
    });
}

void ListenerQueue::postLater(std::function<void()> task) {
    context_.post([alive = std::weak_ptr<int>(alive_), task = std::move(task)] {
        if (alive.lock()) {
            task();
        }
    });
}

void ListenerQueue::deliver() {
    // One at a time from the front: a listener may call back into the player,
    // or open a modal loop in which more events are delivered.
    while (!events_.empty()) {
        const Event event = std::move(events_.front());
        events_.pop_front();
        switch (event.kind) {
            case Event::Kind::StatusChange:
                // Several changes since the last delivery make one event: the
                // listener reads the current values.
                if (state_ == notifiedState_ && status_ == notifiedStatus_) {
                    break;
                }
                notifiedState_ = state_;
                notifiedStatus_ = status_;
                if (listener_ != nullptr) {
                    listener_->onStatusChange();
                }
                break;
            case Event::Kind::Warning:
                if (listener_ != nullptr) {
                    listener_->onWarning(event.warningType, event.param, event.description);
                }
                break;
            case Event::Kind::MediaError:
                if (listener_ != nullptr) {
                    listener_->onMediaError();
                }
                break;
            case Event::Kind::MediaChange:
                if (listener_ != nullptr) {
                    listener_->onMediaChange();
                }
                break;
        }
    }
}

}  // namespace velmora::engine
