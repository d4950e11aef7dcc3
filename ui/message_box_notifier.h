#pragma once

#include <string>

#include <QPointer>
#include <QWidget>

#include "playback/window_surface.h"

namespace velmora::ui {

// Notices as modal message boxes: the caption given, the text as plain text,
// no icon, an OK button only. Returns when the user has closed the box.
class MessageBoxNotifier : public playback::Notifier {
  public:
    // The box is centred on, and owned by, the owner's window while it exists.
    explicit MessageBoxNotifier(QWidget* owner) : owner_(owner) {}

    void showNotice(const std::string& caption, const std::string& text) override;

  private:
    QPointer<QWidget> owner_;
};

}  // namespace velmora::ui
