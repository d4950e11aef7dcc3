#include "desktop_wiring.h"

#include <memory>

#include <QDBusConnection>

#include "desktop/desktop_link.h"

namespace velmora {
namespace {

class MainWindowControls : public desktop::ControlledWindow {
  public:
    explicit MainWindowControls(ui::MainWindow& window) : window_(window) {}

    playback::Player& player() override { return window_.player(); }
    bool isPauseEnabled() const override { return window_.isPauseEnabled(); }
    void perform(playback::TransportAction action) override { window_.perform(action); }
    void playAddress(const std::string& url) override { window_.playAddress(url); }
    void raise() override {
        window_.setWindowState(window_.windowState() & ~Qt::WindowMinimized);
        window_.show();
        window_.raise();
        window_.activateWindow();
    }
    void close() override { window_.close(); }

  private:
    ui::MainWindow& window_;
};

}  // namespace

void linkToDesktop(ui::MainWindow& window) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    auto* link =
        new desktop::DesktopLink(std::make_unique<MainWindowControls>(window), bus, &window);
    window.setChangeObserver([link] { link->refresh(); });
}

}  // namespace velmora
