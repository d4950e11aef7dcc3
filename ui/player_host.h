#pragma once

#include <memory>

#include <QWidget>

#include "playback/player.h"

namespace velmora::ui {

// The window's player component: a never-visible control that owns the media
// player, so that the player lives exactly as long as the window's controls.
class PlayerHost : public QWidget {
    Q_OBJECT

  public:
    explicit PlayerHost(QWidget* parent = nullptr);
    ~PlayerHost() override;

    void install(std::unique_ptr<playback::Player> player);
    bool hasPlayer() const { return player_ != nullptr; }
    // Throws std::logic_error when no player is installed.
    playback::Player& player();
    // Detaches the listener and destroys the player, which ends any playback.
    void release();

  private:
    std::unique_ptr<playback::Player> player_;
};

}  // namespace velmora::ui
