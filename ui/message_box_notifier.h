#pragma once

#include <deque>
#include <string>
#include <utility>

#include <QPointer>
#include <QWidget>

#include "playback/window_surface.h"

class QMessageBox;

namespace velmora::ui {

// Notices as application-modal message boxes: the caption given, the text as
// plain text, no icon, an OK button only. One box shows at a time; a notice
// that arrives meanwhile shows when the user has closed the boxes before it.
//
// showNotice returns at once: the box has no event loop of its own, so it
// never runs inside the caller's dispatch (the player's event delivery), and
// nothing can delete it under its own loop. Used on the user-interface thread.
class MessageBoxNotifier : public playback::Notifier {
  public:
    // The boxes are centred on, and owned by, the owner's window. A notifier
    // without an owner shows its boxes as windows of their own, for as long as
    // the program runs an event loop.
    explicit MessageBoxNotifier(QWidget* owner) : owner_(owner), hasOwner_(owner != nullptr) {}
    ~MessageBoxNotifier() override;  // closes its box, drops the waiting notices
    MessageBoxNotifier(const MessageBoxNotifier&) = delete;
    MessageBoxNotifier& operator=(const MessageBoxNotifier&) = delete;

    // Dropped while the owner is hidden or gone: a notice never outlives the
    // window it belongs to.
    void showNotice(const std::string& caption, const std::string& text) override;

    // Closes the open box and drops the notices still waiting, for a window
    // that is closing.
    void dismissAll();

  private:
    void showNext();

    QPointer<QWidget> owner_;
    bool hasOwner_;
    std::deque<std::pair<std::string, std::string>> waiting_;  // caption, text
    QPointer<QMessageBox> shown_;
};

}  // namespace velmora::ui
