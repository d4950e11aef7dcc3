#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QMainWindow>

#include "about_window.h"
#include "event_boundary.h"
#include "message_box_notifier.h"
#include "playback/error_notices.h"
#include "playback/player.h"
#include "playback/player_settings.h"
#include "playback/transport_rules.h"
#include "playback/url_box_rules.h"
#include "playback/window_surface.h"
#include "window_builder.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace velmora::ui {

using PlayerFactory =
    std::function<std::unique_ptr<playback::Player>(const playback::PlayerSettings&)>;

class PlayerHost;

// The main window, Form1. Built from its design with the player component
// inside; routes the eleven events it handles to the playback rules, the home
// page and the about window, each inside one event boundary. It offers the
// rules the three transport flags, the status caption and the URL box.
class MainWindow : public QMainWindow,
                   public playback::TransportView,
                   public playback::UrlBox,
                   public playback::PlayerListener {
  public:
    // Creates the player with the design's settings; a failure to create it
    // propagates. `about` must outlive the window.
    MainWindow(const PlayerFactory& createPlayer, AboutWindow& about);
    ~MainWindow() override;

    void setButtonEnabled(playback::TransportButton button, bool enabled) override;
    void setStatusCaption(const std::string& caption) override;

    std::string text() const override;
    void setText(const std::string& text) override;

    void onStatusChange() override;
    void onWarning(std::int32_t warningType, std::int32_t param,
                   const std::string& description) override;
    void onMediaError() override;
    void onMediaChange() override;

    const BuiltControls& controls() const { return controls_; }

    // The desktop's media controls act through these: each runs its button's
    // rule inside the same boundary as a click (Play with the URL box's text),
    // whether or not the button is enabled.
    void perform(playback::TransportAction action);
    // Puts `url` into the URL box, then Play.
    void playAddress(const std::string& url);
    bool isPauseEnabled() const;
    playback::Player& player();
    // Called on the user-interface thread after every change of the status
    // caption, of a transport button's flag or of what plays, possibly
    // several times for one event.
    void setChangeObserver(std::function<void()> observer) {
        changeObserver_ = std::move(observer);
    }

  protected:
    // Takes the window's notices down first, whatever closes it.
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildMenu();
    void wireControls();
    void notifyChange();

    AboutWindow& about_;
    MessageBoxNotifier notifier_;
    EventBoundary boundary_;
    BuiltControls controls_;
    PlayerHost* playerHost_ = nullptr;
    QLineEdit* urlBox_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    std::optional<playback::TransportRules> transport_;
    std::optional<playback::UrlBoxRules> urlRules_;
    std::optional<playback::ErrorNotices> notices_;
    std::function<void()> changeObserver_;
};

// Creates the main window as the program shows it at start: shown, and
// destroyed with its player when closed.
MainWindow* openMainWindow(const PlayerFactory& createPlayer, AboutWindow& about);

}  // namespace velmora::ui
