#include "player_events.h"

#include <utility>

namespace velmora::engine {

void PlayerEvents::setStatus(std::int32_t state, std::string text) {
    if (state == state_ && text == status_) {
        return;
    }
    state_ = state;
    status_ = std::move(text);
    events_.push_back({Event::Kind::StatusChange, {}});
}

void PlayerEvents::notice(const Failure& failure) {
    events_.push_back({noticeFor(failure.kind) == Notice::Warning ? Event::Kind::Warning
                                                                  : Event::Kind::MediaError,
                       failure});
}

void PlayerEvents::deliverSoon() {
    if (deliveryPosted_ || events_.empty()) {
        return;
    }
    deliveryPosted_ = true;
    post_([alive = std::weak_ptr<int>(alive_), this] {
        if (alive.lock()) {
            deliveryPosted_ = false;
            deliver();
        }
    });
}

void PlayerEvents::deliver() {
    while (!events_.empty()) {
        const Event event = events_.front();
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
                    listener_->onWarning(static_cast<std::int32_t>(event.failure.kind),
                                         event.failure.httpStatus,
                                         failureStatusText(event.failure));
                }
                break;
            case Event::Kind::MediaError:
                if (listener_ != nullptr) {
                    listener_->onMediaError();
                }
                break;
        }
    }
}

}  // namespace velmora::engine
