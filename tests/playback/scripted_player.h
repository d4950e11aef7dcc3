#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "playback/player.h"
#include "playback/player_settings.h"
#include "playback/window_surface.h"

namespace velmora::playback::testing {

// One log for everything the rules touch, so a test can assert the exact
// interleaving of player reads and button changes.
using CallLog = std::vector<std::string>;

// A stand-in player that records every call, in the test's log or its own.
// Each playState() read takes the next scripted state (the last one repeats),
// so a test can change the state between two reads; a command named in
// stateAfter moves it at once, as the real player's commands do.
class ScriptedPlayer : public Player, public PlayerControls {
  public:
    explicit ScriptedPlayer(CallLog* log = nullptr, PlayerSettings settings = {},
                            bool* destroyed = nullptr)
        : settings(settings), log_(log != nullptr ? *log : calls), destroyed_(destroyed) {}
    ~ScriptedPlayer() override {
        if (destroyed_ != nullptr) *destroyed_ = true;
    }

    void scriptStates(std::deque<std::int32_t> states) { states_ = std::move(states); }
    void setStatus(std::string status) { status_ = std::move(status); }
    // The named call throws once reached: "URL", "pause", "play", "stop",
    // "playState", "status" ("": none); failOnRead picks which playState read fails.
    void failOn(std::string call, int failOnRead = 1) {
        failing_ = std::move(call);
        failOnRead_ = failOnRead;
    }

    void setURL(std::string_view url) override { record("URL=" + std::string(url), "URL"); }
    PlayerControls& controls() override { return *this; }
    std::int32_t playState() const override {
        ++reads_;
        if (failing_ == "playState" && reads_ == failOnRead_)
            throw std::runtime_error("state lost");
        if (logReads) log_.push_back("read");
        std::int32_t state = states_.empty() ? play_state::Undefined : states_.front();
        if (states_.size() > 1) states_.pop_front();
        return state;
    }
    std::string status() const override {
        if (failing_ == "status") throw std::runtime_error("status lost");
        return status_;
    }
    void setListener(PlayerListener* newListener) override { listener = newListener; }
    MediaDetails mediaDetails() const override { return {}; }
    int volume() const override { return settings.volume; }
    void setVolume(int) override {}

    void play() override { record("play", "play"); }
    void stop() override { record("stop", "stop"); }
    void pause() override { record("pause", "pause"); }

    const PlayerSettings settings;
    CallLog calls;  // the log when the test gives none
    bool logReads = true;
    std::map<std::string, std::int32_t> stateAfter;  // command → the state it reaches
    PlayerListener* listener = nullptr;

  private:
    void record(const std::string& entry, const std::string& call) {
        if (failing_ == call) throw std::runtime_error(call + " refused");
        log_.push_back(entry);
        if (const auto next = stateAfter.find(call); next != stateAfter.end()) {
            states_ = {next->second};
        }
    }

    CallLog& log_;
    bool* destroyed_;
    mutable std::deque<std::int32_t> states_;
    std::string status_;
    std::string failing_;
    int failOnRead_ = 1;
    mutable int reads_ = 0;
};

// A player factory (for the main window) that hands the test the player it
// made, which logs only the commands.
inline auto scriptedPlayerFactory(ScriptedPlayer*& made, bool* destroyed = nullptr) {
    return [&made, destroyed](const PlayerSettings& settings) -> std::unique_ptr<Player> {
        auto player = std::make_unique<ScriptedPlayer>(nullptr, settings, destroyed);
        player->logReads = false;
        made = player.get();
        return player;
    };
}

// The window side: button flags, status caption and URL box, all recorded in
// the same log.
class RecordingWindow : public TransportView, public UrlBox {
  public:
    explicit RecordingWindow(CallLog& log) : log_(log) {}

    void setButtonEnabled(TransportButton button, bool enabled) override {
        log_.push_back(std::string(name(button)) + (enabled ? " on" : " off"));
    }
    void setStatusCaption(const std::string& caption) override {
        log_.push_back("caption=[" + caption + "]");
    }
    std::string text() const override { return text_; }
    void setText(const std::string& text) override {
        text_ = text;
        log_.push_back("text=" + text);
    }

    std::string text_;

  private:
    static const char* name(TransportButton button) {
        switch (button) {
            case TransportButton::C2:
                return "C2";
            case TransportButton::Command2:
                return "Command2";
            case TransportButton::Command3:
                return "Command3";
        }
        return "?";
    }
    CallLog& log_;
};

}  // namespace velmora::playback::testing
