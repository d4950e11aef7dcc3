#include "transport_rules.h"

#include <array>
#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include "player_error.h"

namespace velmora::playback {
namespace {

struct ButtonSetting {
    TransportButton button;
    bool enabled;
};

// A row sets its three buttons in a fixed order, and only while the player is
// in the row's state, re-reading that state before every single button.
struct Row {
    std::int32_t state;
    std::array<ButtonSetting, 3> order;
};

using enum TransportButton;

constexpr Row kStoppedAfterStop{play_state::Stopped,
                                {{{Command2, false}, {Command3, false}, {C2, false}}}};
constexpr Row kPlayingAfterContinue{play_state::Playing,
                                    {{{Command2, false}, {Command3, true}, {C2, true}}}};
constexpr Row kPausedAfterPause{play_state::Paused,
                                {{{C2, false}, {Command2, true}, {Command3, true}}}};
constexpr Row kStoppedOnStatus{play_state::Stopped,
                               {{{C2, false}, {Command2, false}, {Command3, false}}}};
constexpr Row kPlayingOnStatus{play_state::Playing,
                               {{{Command2, false}, {Command3, true}, {C2, true}}}};
constexpr Row kPausedOnStatus{play_state::Paused,
                              {{{C2, false}, {Command2, true}, {Command3, true}}}};

constexpr std::array<ButtonSetting, 3> kStartedSet{
    {{Command2, false}, {C2, true}, {Command3, true}}};

// Runs one call on the player; a failure carries what was being done, so the
// message box that reports it makes sense on its own.
template <typename Call>
decltype(auto) onPlayer(std::string_view doing, Call&& call) {
    try {
        return std::forward<Call>(call)();
    } catch (const std::exception& e) {
        throw PlayerError(std::string(doing) + "时播放器出错：" + e.what());
    }
}

void applyRow(Player& player, TransportView& view, const Row& row) {
    for (const ButtonSetting& setting : row.order) {
        if (onPlayer("读取播放状态", [&] { return player.playState(); }) == row.state) {
            view.setButtonEnabled(setting.button, setting.enabled);
        }
    }
}

}  // namespace

void TransportRules::play(std::string_view url) {
    putUrl(url);
    applyStartedSet();
}

void TransportRules::putUrl(std::string_view url) {
    onPlayer("打开网址", [&] { player_.setURL(url); });
}

void TransportRules::pause() {
    onPlayer("暂停", [&] { player_.controls().pause(); });
    applyRow(player_, view_, kPausedAfterPause);
}

void TransportRules::continuePlayback() {
    onPlayer("继续播放", [&] { player_.controls().play(); });
    applyRow(player_, view_, kPlayingAfterContinue);
}

void TransportRules::stop() {
    onPlayer("停止", [&] { player_.controls().stop(); });
    applyRow(player_, view_, kStoppedAfterStop);
}

void TransportRules::statusChange() {
    view_.setStatusCaption("  " + onPlayer("读取状态", [&] { return player_.status(); }));
    applyRow(player_, view_, kStoppedOnStatus);
    applyRow(player_, view_, kPlayingOnStatus);
    applyRow(player_, view_, kPausedOnStatus);
}

void TransportRules::applyStartedSet() {
    for (const ButtonSetting& setting : kStartedSet) {
        view_.setButtonEnabled(setting.button, setting.enabled);
    }
}

}  // namespace velmora::playback
