#pragma once

#include <exception>
#include <functional>

#include "playback/window_surface.h"

namespace velmora::ui {

// Every handler of a window's events runs inside one boundary. An error that
// ends a handler is shown to the user, captioned with the application title,
// and the program goes on: the effects the handler made before the error stay.
class EventBoundary {
  public:
    explicit EventBoundary(playback::Notifier& notifier) : notifier_(notifier) {}

    // Returns false when the handler ended with an error.
    bool run(const std::function<void()>& handler) noexcept;

  private:
    void report(const std::exception& error) noexcept;

    playback::Notifier& notifier_;
};

}  // namespace velmora::ui
