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
    void perform(Action action) override {
        using Window = ui::MainWindow::TransportAction;
        switch (action) {
            case Action::Play:
                window_.perform(Window::Play);
                break;
            case Action::Pause:
                window_.perform(Window::Pause);
                break;
            case Action::Continue:
                window_.perform(Window::Continue);
                break;
            case Action::Stop:
                window_.perform(Window::Stop);
                break;
        }
    }
    void playAddress(const std::string& url) override { window_.playAddress(url); }
    void raise() override {
        window_.showNormal();
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
    window.setTransportObserver([link] { link->refresh(); });
}

}  // namespace velmora
