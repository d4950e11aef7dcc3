#include "playback/transport_rules.h"

#include <gtest/gtest.h>

#include <functional>

#include "playback/player_error.h"
#include "scripted_player.h"

namespace velmora::playback {
namespace {

using testing::CallLog;
using testing::RecordingWindow;
using testing::ScriptedPlayer;

class TransportRulesTest : public ::testing::Test {
  protected:
    CallLog log;
    ScriptedPlayer player{log};
    RecordingWindow window{log};
    TransportRules rules{player, window};
};

struct ButtonCase {
    const char* name;
    std::function<void(TransportRules&)> press;
    std::deque<std::int32_t> states;  // one per playState read
    CallLog expected;
};

void PrintTo(const ButtonCase& c, std::ostream* os) { *os << c.name; }

class ButtonActionTest : public TransportRulesTest,
                         public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(ButtonActionTest, AppliesOnlyTheRowOfTheRequestedStateReadingBeforeEachButton) {
    player.scriptStates(GetParam().states);
    GetParam().press(rules);
    EXPECT_EQ(log, GetParam().expected);
}

const auto pause = [](TransportRules& r) { r.pause(); };
const auto cont = [](TransportRules& r) { r.continuePlayback(); };
const auto stop = [](TransportRules& r) { r.stop(); };

INSTANTIATE_TEST_SUITE_P(
    Rows, ButtonActionTest,
    ::testing::Values(
        ButtonCase{"PauseReached",
                   pause,
                   {2},
                   {"pause", "read", "C2 off", "read", "Command2 on", "read", "Command3 on"}},
        ButtonCase{"PauseNotYetReached", pause, {3}, {"pause", "read", "read", "read"}},
        ButtonCase{"PauseReachedBetweenReads",
                   pause,
                   {9, 2, 2},
                   {"pause", "read", "read", "Command2 on", "read", "Command3 on"}},
        ButtonCase{"ContinueReached",
                   cont,
                   {3},
                   {"play", "read", "Command2 off", "read", "Command3 on", "read", "C2 on"}},
        ButtonCase{"ContinueLeftStateMidRow",
                   cont,
                   {3, 3, 6},
                   {"play", "read", "Command2 off", "read", "Command3 on", "read"}},
        ButtonCase{"StopReached",
                   stop,
                   {1},
                   {"stop", "read", "Command2 off", "read", "Command3 off", "read", "C2 off"}},
        ButtonCase{"StopStillPlaying", stop, {3}, {"stop", "read", "read", "read"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct StatusCase {
    const char* name;
    std::int32_t state;
    CallLog buttons;  // what follows the caption and the first three reads
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

class StatusChangeTest : public TransportRulesTest,
                         public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusChangeTest, TestsAllThreeRowsInTheirOrder) {
    player.scriptStates({GetParam().state});
    player.setStatus("正在播放");
    rules.statusChange();

    // Nine reads in all: stopped row, then playing, then paused, one read a button.
    CallLog expected{"caption=[  正在播放]"};
    const CallLog& set = GetParam().buttons;
    const int setFrom = GetParam().state == 1 ? 0 : GetParam().state == 3 ? 3 : 6;
    for (int slot = 0; slot < 9; ++slot) {
        expected.push_back("read");
        if (slot >= setFrom && slot < setFrom + 3 && !set.empty()) {
            expected.push_back(set[static_cast<std::size_t>(slot - setFrom)]);
        }
    }
    EXPECT_EQ(log, expected);
}

INSTANTIATE_TEST_SUITE_P(
    States, StatusChangeTest,
    ::testing::Values(StatusCase{"Stopped", 1, {"C2 off", "Command2 off", "Command3 off"}},
                      StatusCase{"Playing", 3, {"Command2 off", "Command3 on", "C2 on"}},
                      StatusCase{"Paused", 2, {"C2 off", "Command2 on", "Command3 on"}},
                      StatusCase{"Undefined", 0, {}}, StatusCase{"Buffering", 6, {}},
                      StatusCase{"MediaEnded", 8, {}}, StatusCase{"Transitioning", 9, {}},
                      StatusCase{"Reconnecting", 11, {}}, StatusCase{"Negative", -1, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransportRulesTest, StatusCaptionKeepsTwoLeadingSpacesForAnEmptyStatus) {
    player.setStatus("");
    rules.statusChange();
    EXPECT_EQ(log.front(), "caption=[  ]");
}

TEST_F(TransportRulesTest, PlayPutsTheTextUncheckedThenTheStartedSetWithoutReadingState) {
    for (const char* url : {"", "  not a url  ", "http://127.0.0.1:8000/tone.mp3"}) {
        log.clear();
        rules.play(url);
        EXPECT_EQ(log, (CallLog{"URL=" + std::string(url), "Command2 off", "C2 on", "Command3 on"}))
            << "url: [" << url << "]";
    }
}

TEST_F(TransportRulesTest, FailingCommandStopsTheRuleBeforeAnyButtonAndSaysWhat) {
    player.scriptStates({2});
    player.failOn("pause");
    try {
        rules.pause();
        FAIL() << "pause should have thrown";
    } catch (const PlayerError& e) {
        EXPECT_NE(std::string(e.what()).find("暂停"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("pause refused"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(log.empty());
}

TEST_F(TransportRulesTest, FailingStateReadMidRowKeepsTheFlagsAlreadySet) {
    player.scriptStates({1});
    player.failOn("playState", 2);
    EXPECT_THROW(rules.stop(), PlayerError);
    EXPECT_EQ(log, (CallLog{"stop", "read", "Command2 off"}));
}

TEST_F(TransportRulesTest, FailingUrlLeavesTheButtonsAlone) {
    player.failOn("URL");
    EXPECT_THROW(rules.play("http://127.0.0.1/x.mp3"), PlayerError);
    EXPECT_TRUE(log.empty());
}

TEST_F(TransportRulesTest, FailingStatusReadLeavesCaptionAndButtons) {
    player.scriptStates({1});
    player.failOn("status");
    EXPECT_THROW(rules.statusChange(), PlayerError);
    EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace velmora::playback
