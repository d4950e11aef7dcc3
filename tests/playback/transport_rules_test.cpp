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
    ScriptedPlayer player{&log};
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

class RuleRowsTest : public TransportRulesTest, public ::testing::WithParamInterface<ButtonCase> {};

// A button applies only the row of the state it asks for; a status change
// shows the caption, then tries the stopped, playing and paused rows in that
// order. Both read the state afresh before every button.
TEST_P(RuleRowsTest, AppliesItsRowsReadingTheStateBeforeEachButton) {
    player.scriptStates(GetParam().states);
    player.setStatus("正在播放");
    GetParam().press(rules);
    EXPECT_EQ(log, GetParam().expected);
}

const auto pause = [](TransportRules& r) { r.pause(); };
const auto cont = [](TransportRules& r) { r.continuePlayback(); };
const auto stop = [](TransportRules& r) { r.stop(); };
const auto statusChange = [](TransportRules& r) { r.statusChange(); };
const std::string kCaption = "caption=[  正在播放]";

INSTANTIATE_TEST_SUITE_P(
    Rows, RuleRowsTest,
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
        ButtonCase{"StopStillPlaying", stop, {3}, {"stop", "read", "read", "read"}},
        ButtonCase{"StatusStopped",
                   statusChange,
                   {1},
                   {kCaption, "read", "C2 off", "read", "Command2 off", "read", "Command3 off",
                    "read", "read", "read", "read", "read", "read"}},
        ButtonCase{"StatusPlaying",
                   statusChange,
                   {3},
                   {kCaption, "read", "read", "read", "read", "Command2 off", "read", "Command3 on",
                    "read", "C2 on", "read", "read", "read"}},
        ButtonCase{"StatusPaused",
                   statusChange,
                   {2},
                   {kCaption, "read", "read", "read", "read", "read", "read", "read", "C2 off",
                    "read", "Command2 on", "read", "Command3 on"}},
        ButtonCase{
            "StatusStartsPlayingDuringTheStoppedRow",
            statusChange,
            {1, 1, 3},
            {kCaption, "read", "C2 off", "read", "Command2 off", "read", "read", "Command2 off",
             "read", "Command3 on", "read", "C2 on", "read", "read", "read"}},
        ButtonCase{
            "StatusBufferingMatchesNoRow",
            statusChange,
            {6},
            {kCaption, "read", "read", "read", "read", "read", "read", "read", "read", "read"}}),
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
