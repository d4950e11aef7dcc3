#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "playback/player_error.h"
#include "ui/main_window.h"

namespace velmora::ui::test {

// A player that does what a test tells it: records every call, moves to a
// scripted state after a command, fails the calls it is told to fail.
class ScriptedPlayer : public playback::Player, public playback::PlayerControls {
  public:
    ScriptedPlayer(const playback::PlayerSettings& settings, bool* destroyed)
        : settings(settings), destroyed_(destroyed) {}
    ~ScriptedPlayer() override {
        if (destroyed_ != nullptr) *destroyed_ = true;
    }

    void setURL(std::string_view url) override { call("setURL", std::string(url)); }
    PlayerControls& controls() override { return *this; }
    std::int32_t playState() const override { return state; }
    std::string status() const override { return statusText; }
    void setListener(playback::PlayerListener* newListener) override { listener = newListener; }
    playback::MediaDetails mediaDetails() const override { return {}; }
    int volume() const override { return settings.volume; }
    void setVolume(int) override {}
    void play() override { call("play"); }
    void stop() override { call("stop"); }
    void pause() override { call("pause"); }

    const playback::PlayerSettings settings;
    std::vector<std::string> calls;  // "name" or "name argument"
    std::int32_t state = playback::play_state::Undefined;
    std::string statusText;
    std::map<std::string, std::int32_t> stateAfter;  // command → state it reaches at once
    std::set<std::string> failing;                   // calls that throw
    playback::PlayerListener* listener = nullptr;

  private:
    void call(const std::string& name, const std::optional<std::string>& argument = {}) {
        if (failing.contains(name)) throw playback::PlayerError("模拟的" + name + "故障");
        calls.push_back(argument ? name + " " + *argument : name);
        if (const auto next = stateAfter.find(name); next != stateAfter.end()) state = next->second;
    }

    bool* destroyed_;
};

// A factory for the main window that hands the test the player it made.
inline PlayerFactory scriptedPlayerFactory(ScriptedPlayer*& made, bool* destroyed = nullptr) {
    return [&made, destroyed](const playback::PlayerSettings& settings) {
        auto player = std::make_unique<ScriptedPlayer>(settings, destroyed);
        made = player.get();
        return player;
    };
}

}  // namespace velmora::ui::test
