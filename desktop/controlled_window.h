#pragma once

#include <string>

#include "playback/player.h"
#include "playback/transport_rules.h"

namespace velmora::desktop {

// What the desktop's media controls may do with the program's window. Every
// action runs the window's own rules, as the user's click would; all calls
// come on the user-interface thread.
class ControlledWindow {
  public:
    virtual ~ControlledWindow() = default;

    virtual playback::Player& player() = 0;
    virtual bool isPauseEnabled() const = 0;
    // Play takes the URL box's text, as the Play button does.
    virtual void perform(playback::TransportAction action) = 0;
    // Puts the address into the URL box, then Play.
    virtual void playAddress(const std::string& url) = 0;
    // Shows and activates the window.
    virtual void raise() = 0;
    // Closes the window as its close box does.
    virtual void close() = 0;
};

}  // namespace velmora::desktop
