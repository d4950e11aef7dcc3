#pragma once

#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "playback/player.h"
#include "playback/window_surface.h"

namespace velmora::playback::testing {

// One log for everything the rules touch, so a test can assert the exact
// interleaving of player reads and button changes.
using CallLog = std::vector<std::string>;

// A stand-in player that records every call. Each playState() read takes the
// next scripted state (the last one repeats), so a test can change the state
// between two reads.
class ScriptedPlayer : public Player, public PlayerControls {
  public:
    explicit ScriptedPlayer(CallLog& log) : log_(log) {}

    void scriptStates(std::deque<std::int32_t> states) { states_ = std::move(states); }
    void setStatus(std::string status) { status_ = std::move(status); }
    // The named call throws once reached: "URL", "pause", "play", "stop",
    // "playState", "status"; failOnRead picks which playState read fails.
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
        log_.push_back("read");
        std::int32_t state = states_.empty() ? play_state::Undefined : states_.front();
        if (states_.size() > 1) states_.pop_front();
        return state;
    }
    std::string status() const override {
        if (failing_ == "status") throw std::runtime_error("status lost");
        return status_;
    }
    void setListener(PlayerListener*) override {}
    MediaDetails mediaDetails() const override { return {}; }
    int volume() const override { return 0; }
    void setVolume(int) override {}

    void play() override { record("play", "play"); }
    void stop() override { record("stop", "stop"); }
    void pause() override { record("pause", "pause"); }

  private:
    void record(const std::string& entry, const std::string& call) {
        if (failing_ == call) throw std::runtime_error(call + " refused");
        log_.push_back(entry);
    }

    CallLog& log_;
    mutable std::deque<std::int32_t> states_;
    std::string status_;
    std::string failing_;
    int failOnRead_ = 1;
    mutable int reads_ = 0;
};

// The window side: button flags, status caption, URL box and message boxes,
// all recorded in the same log.
class RecordingWindow : public TransportView, public UrlBox, public Notifier {
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
    void showNotice(const std::string& caption, const std::string& text) override {
        log_.push_back("box " + caption + ": " + text);
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
