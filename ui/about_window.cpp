#include "about_window.h"

#include "about_window_design.h"
#include "event_boundary.h"
#include "home_page.h"
#include "message_box_notifier.h"
#include "picture_box.h"
#include "window_builder.h"

namespace velmora::ui {
namespace {

class AboutForm : public QWidget {
  public:
    AboutForm() : notifier_(this), boundary_(notifier_) {
        setAttribute(Qt::WA_DeleteOnClose);
        const BuiltControls controls = buildWindow(*this, *this, aboutWindowDesign());
        auto* banner = controls.get<PictureBox>("Picture1");
        QObject::connect(banner, &PictureBox::clicked, this,
                         [this] { boundary_.run(openHomePage); });
        banner->setFocus();
    }

  private:
    MessageBoxNotifier notifier_;
    EventBoundary boundary_;
};

}  // namespace

AboutWindow::~AboutWindow() { delete window_.data(); }

void AboutWindow::show() {
    if (window_.isNull()) {
        window_ = new AboutForm;
    }
    if (window_->isMinimized()) {
        window_->showNormal();
    } else {
        window_->show();
    }
    window_->raise();
    window_->activateWindow();
}

}  // namespace velmora::ui
