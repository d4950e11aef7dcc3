#pragma once

#include <QPointer>
#include <QWidget>

namespace velmora::ui {

// The application's one about-window object. The window itself exists only
// while it is open: Show creates it from its design (or brings the open one
// forward), closing destroys it, the next Show makes it afresh. The window is
// modeless and has no owner, so it outlives the main window if left open.
class AboutWindow {
  public:
    AboutWindow() = default;
    AboutWindow(const AboutWindow&) = delete;
    AboutWindow& operator=(const AboutWindow&) = delete;
    ~AboutWindow();

    void show();
    // The open window, or nullptr while it is closed.
    QWidget* openWindow() const { return window_.data(); }

  private:
    QPointer<QWidget> window_;
};

}  // namespace velmora::ui
