#include <gtest/gtest.h>

#include "playback/player_error.h"
#include "playback/url_box_rules.h"
#include "scripted_player.h"

namespace velmora::playback {
namespace {

using testing::CallLog;
using testing::RecordingWindow;
using testing::ScriptedPlayer;

class UrlBoxTest : public ::testing::Test {
  protected:
    void SetUp() override { window.text_ = urlPrompt(); }

    CallLog log;
    ScriptedPlayer player{&log};
    RecordingWindow window{log};
    TransportRules transport{player, window};
    UrlBoxRules box{window, transport};
};

const CallLog kStartedSet{"Command2 off", "C2 on", "Command3 on"};

TEST_F(UrlBoxTest, FirstClickOnTheUntouchedPromptShowsTheExampleAndASecondDoesNothing) {
    box.click();
    box.click();
    EXPECT_EQ(log, CallLog{"text=" + std::string(kExampleUrl)});
}

TEST_F(UrlBoxTest, ClickLeavesAnyTextThatIsNotExactlyThePrompt) {
    const std::string prompt = urlPrompt();
    for (const std::string& text :
         {prompt + " ", " " + prompt, prompt.substr(0, prompt.size() - 1),
          std::string("请在此输入网络音乐url  例如：") + std::string(kExampleUrl), std::string()}) {
        window.text_ = text;
        box.click();
        EXPECT_EQ(window.text_, text);
    }
    EXPECT_TRUE(log.empty());
}

TEST_F(UrlBoxTest, EnterIsConsumedAndHandsTheUntouchedPromptToThePlayerUnchanged) {
    EXPECT_EQ(box.keyPress(kEnterKey), 0);
    CallLog expected{"URL=" + urlPrompt()};
    expected.insert(expected.end(), kStartedSet.begin(), kStartedSet.end());
    EXPECT_EQ(log, expected);
}

TEST_F(UrlBoxTest, EveryOtherKeyPassesThroughAndAppliesTheStartedSetWithoutTouchingThePlayer) {
    player.scriptStates({1});
    for (int code : std::initializer_list<int>{'a', 8 /* Backspace */, 27 /* Escape */, ' ',
                                               0x4E2D /* 中 */}) {
        log.clear();
        EXPECT_EQ(box.keyPress(code), code);
        EXPECT_EQ(log, kStartedSet) << "key " << code;
    }
}

TEST_F(UrlBoxTest, EnterWithAFailingPlayerAppliesNoButtons) {
    player.failOn("URL");
    EXPECT_THROW(box.keyPress(kEnterKey), PlayerError);
    EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace velmora::playback
