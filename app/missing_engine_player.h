#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "playback/player.h"
#include "playback/player_error.h"
#include "playback/player_settings.h"

namespace velmora::app {

// Stands in for the media player in a build without the playback engine: the
// window works, and asking it to play says why nothing can.
class MissingEnginePlayer : public playback::Player, private playback::PlayerControls {
  public:
    explicit MissingEnginePlayer(const playback::PlayerSettings&) {}

    void setURL(std::string_view) override { fail(); }
    std::string URL() const override { return {}; }
    playback::PlayerControls& controls() override { return *this; }
    std::int32_t playState() const override { return playback::play_state::Undefined; }
    std::string status() const override { return {}; }
    void setListener(playback::PlayerListener*) override {}

  private:
    void play() override { fail(); }
    void stop() override { fail(); }
    void pause() override { fail(); }
    [[noreturn]] static void fail() {
        throw playback::PlayerError("此版本没有播放引擎，无法播放。");
    }
};

}  // namespace velmora::app
