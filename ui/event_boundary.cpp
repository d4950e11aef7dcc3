#include "event_boundary.h"

#include <string>

#include <QtGlobal>

#include "playback/application_title.h"

namespace velmora::ui {

bool EventBoundary::run(const std::function<void()>& handler) noexcept {
    try {
        handler();
        return true;
    } catch (const std::exception& error) {
        report(error);
        return false;
    }
}

void EventBoundary::report(const std::exception& error) noexcept {
    try {
        notifier_.showNotice(std::string(kApplicationTitle), error.what());
    } catch (const std::exception& failure) {
        // Nothing is left to tell the user with; the log is the last resort.
        qCritical("%s (and the notice failed: %s)", error.what(), failure.what());
    }
}

}  // namespace velmora::ui
