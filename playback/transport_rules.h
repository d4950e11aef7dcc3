#pragma once

#include <string_view>

#include "player.h"
#include "window_surface.h"

namespace velmora::playback {

// The actions of the four transport buttons, for callers that pick one.
enum class TransportAction { Play, Pause, Continue, Stop };

// The four transport buttons and the status line. Holds no state: the flags
// live in the view, the play state in the player. Each action runs to its end
// unless a call fails; then it throws, and the flags already set stay set.
class TransportRules {
  public:
    TransportRules(Player& player, TransportView& view) : player_(player), view_(view) {}

    // Puts the URL and applies the started set; the player starts by itself.
    void play(std::string_view url);
    // Hands the URL to the player, unchecked; no play command follows.
    void putUrl(std::string_view url);
    void pause();
    void continuePlayback();
    void stop();
    void statusChange();

    // Continue disabled, Pause enabled, Stop enabled, without reading the state.
    void applyStartedSet();

  private:
    Player& player_;
    TransportView& view_;
};

}  // namespace velmora::playback
