#include "player_host.h"

#include <stdexcept>

namespace velmora::ui {

PlayerHost::PlayerHost(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

PlayerHost::~PlayerHost() { release(); }

void PlayerHost::install(std::unique_ptr<playback::Player> player) {
    release();
    player_ = std::move(player);
}

playback::Player& PlayerHost::player() {
    if (!player_) {
        throw std::logic_error("the window has no player component");
    }
    return *player_;
}

void PlayerHost::release() {
    if (player_) {
        player_->setListener(nullptr);
        player_.reset();
    }
}

}  // namespace velmora::ui
