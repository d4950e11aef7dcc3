#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

#include "notice_catcher.h"
#include "playback/error_notices.h"
#include "playback/url_box_rules.h"
#include "qt_printers.h"
#include "scripted_player.h"
#include "ui/main_window.h"
#include "url_catcher.h"

namespace velmora::ui::test {
namespace {

using playback::testing::ScriptedPlayer;
using playback::testing::scriptedPlayerFactory;

using namespace playback::play_state;

constexpr int kWindowTimeoutMs = 5000;

// Enabled flags of Play, Pause, Continue and Stop.
using Flags = std::array<bool, 4>;
constexpr Flags kOnlyPlay{true, false, false, false};
constexpr Flags kStartedSet{true, true, false, true};
constexpr Flags kPausedRow{true, false, true, true};
constexpr Flags kAllOn{true, true, true, true};

class MainWindowTest : public testing::Test {
  public:
    void SetUp() override {
        window = std::make_unique<MainWindow>(scriptedPlayerFactory(player), about);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), kWindowTimeoutMs));
    }

    QWidget* control(const char* name) const { return window->controls().get(name); }
    QLineEdit* urlBox() const { return window->controls().get<QLineEdit>("Text1"); }
    QString status() const { return window->controls().get<QLabel>("Label2")->text(); }
    void click(const char* name) const { QTest::mouseClick(control(name), Qt::LeftButton); }
    Flags flags() const {
        return {control("Command1")->isEnabled(), control("C2")->isEnabled(),
                control("Command2")->isEnabled(), control("Command3")->isEnabled()};
    }
    void setFlags(const Flags& wanted) const {
        control("C2")->setEnabled(wanted[1]);
        control("Command2")->setEnabled(wanted[2]);
        control("Command3")->setEnabled(wanted[3]);
    }

    AboutWindow about;
    ScriptedPlayer* player = nullptr;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, StartsIdleWithOnlyPlayEnabledAndTheFocusInTheUrlBox) {
    EXPECT_EQ(flags(), kOnlyPlay);
    EXPECT_EQ(status(), QStringLiteral("    准备就绪"));
    EXPECT_EQ(urlBox()->text().toStdString(), playback::urlPrompt());
    EXPECT_EQ(urlBox()->cursorPosition(), 0) << "the prompt must show from its beginning";
    EXPECT_EQ(QApplication::focusWidget(), urlBox());
    EXPECT_TRUE(player->calls.empty());
    EXPECT_TRUE(player->settings.autoStart) << "Play sends no play command after the URL";
    EXPECT_FALSE(player->settings.enableErrorDialogs);
    EXPECT_EQ(player->listener, window.get());
    EXPECT_FALSE(control("WindowsMediaPlayer1")->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Velmora网络音乐播放器BY TELVARO"));
}

// One row per wired event: what the user or the player does, then what the
// player was asked and which buttons are enabled.
struct WiringRow {
    const char* name;
    Flags before;
    std::function<void(MainWindowTest&, ScriptedPlayer&)> event;
    std::vector<std::string> calls;
    Flags after;
};

void PrintTo(const WiringRow& row, std::ostream* out) { *out << row.name; }

class WiringTest : public MainWindowTest, public testing::WithParamInterface<WiringRow> {};

TEST_P(WiringTest, RunsTheRuleOfTheEvent) {
    const WiringRow& row = GetParam();
    setFlags(row.before);
    row.event(*this, *player);
    EXPECT_EQ(player->calls, row.calls);
    EXPECT_EQ(flags(), row.after);
}

const WiringRow kWiringRows[] = {
    {"PlayPutsTheTextAsTyped",
     kOnlyPlay,
     [](MainWindowTest& t, ScriptedPlayer&) {
         t.urlBox()->setText(QStringLiteral(" http://127.0.0.1:9/a.mp3"));
         t.click("Command1");
     },
     {"URL= http://127.0.0.1:9/a.mp3"},
     kStartedSet},
    {"PauseAppliesThePausedRow",
     kStartedSet,
     [](MainWindowTest& t, ScriptedPlayer& p) {
         p.stateAfter["pause"] = Paused;
         t.click("C2");
     },
     {"pause"},
     kPausedRow},
    {"ContinueAppliesThePlayingRow",
     kPausedRow,
     [](MainWindowTest& t, ScriptedPlayer& p) {
         p.stateAfter["play"] = Playing;
         t.click("Command2");
     },
     {"play"},
     kStartedSet},
    {"StopAppliesTheStoppedRow",
     kStartedSet,
     [](MainWindowTest& t, ScriptedPlayer& p) {
         p.stateAfter["stop"] = Stopped;
         t.click("Command3");
     },
     {"stop"},
     kOnlyPlay},
    {"TypingAppliesTheStartedSetAndTypes",
     kOnlyPlay,
     [](MainWindowTest& t, ScriptedPlayer&) {
         t.urlBox()->clear();
         QTest::keyClick(t.urlBox(), Qt::Key_A);
         EXPECT_EQ(t.urlBox()->text(), QStringLiteral("a"));
     },
     {},
     kStartedSet},
    {"BackspaceAndEscapeAreKeyPresses",
     kAllOn,
     [](MainWindowTest& t, ScriptedPlayer&) {
         QTest::keyClick(t.urlBox(), Qt::Key_Backspace);
         t.control("C2")->setEnabled(false);
         QTest::keyClick(t.urlBox(), Qt::Key_Escape);
     },
     {},
     kStartedSet},
    {"KeysWithoutACharacterAreNoKeyPress",
     kOnlyPlay,
     [](MainWindowTest& t, ScriptedPlayer&) {
         for (const Qt::Key key : {Qt::Key_Left, Qt::Key_Home, Qt::Key_Delete, Qt::Key_F5}) {
             QTest::keyClick(t.urlBox(), key);
         }
     },
     {},
     kOnlyPlay},
    {"InputMethodTextIsTyped",
     kOnlyPlay,
     [](MainWindowTest& t, ScriptedPlayer&) {
         t.urlBox()->clear();
         QInputMethodEvent commit;
         commit.setCommitString(QStringLiteral("歌曲"));
         QApplication::sendEvent(t.urlBox(), &commit);
         EXPECT_EQ(t.urlBox()->text(), QStringLiteral("歌曲"));
     },
     {},
     kStartedSet},
    {"EnterPutsTheTextAndInsertsNothing",
     kOnlyPlay,
     [](MainWindowTest& t, ScriptedPlayer&) {
         QSignalSpy returnPressed(t.urlBox(), &QLineEdit::returnPressed);
         QTest::keyClick(t.urlBox(), Qt::Key_Return);
         EXPECT_EQ(returnPressed.count(), 0) << "Enter must be consumed before the box sees it";
         EXPECT_EQ(t.urlBox()->text().toStdString(), playback::urlPrompt());
     },
     {"URL=" + playback::urlPrompt()},
     kStartedSet},
    {"StatusChangeShowsTheStatusAndFollowsTheState",
     kOnlyPlay,
     [](MainWindowTest& t, ScriptedPlayer& p) {
         p.scriptStates({Paused});
         p.setStatus("已暂停");
         p.listener->onStatusChange();
         EXPECT_EQ(t.status(), QStringLiteral("  已暂停"));
     },
     {},
     kPausedRow},
};

INSTANTIATE_TEST_SUITE_P(Rows, WiringTest, testing::ValuesIn(kWiringRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, ClickIntoTheUntouchedPromptGivesTheExampleUrlOnce) {
    click("Text1");
    EXPECT_EQ(urlBox()->text().toStdString(), playback::kExampleUrl);
    urlBox()->setText(QStringLiteral("http://127.0.0.1/x.mp3"));
    click("Text1");
    EXPECT_EQ(urlBox()->text(), QStringLiteral("http://127.0.0.1/x.mp3"));
    EXPECT_EQ(flags(), kOnlyPlay) << "a click is no key press";
}

TEST_F(MainWindowTest, PlayerNoticesShowOneModalBoxEachAndChangeNothing) {
    setFlags(kPausedRow);
    const std::vector<Notice> notices = noticesDuring([&] {
        player->listener->onWarning(1, 2, "ignored");
        player->listener->onWarning(3, 4, "also ignored");
        player->listener->onMediaError();
    });
    const QString warning = QString::fromUtf8(playback::kWarningNotice.data());
    ASSERT_EQ(notices.size(), 3U);
    EXPECT_EQ(notices[0].text, warning);
    EXPECT_EQ(notices[1].text, warning);
    EXPECT_EQ(notices[2].text, QString::fromUtf8(playback::kMediaErrorNotice.data()));
    for (const Notice& notice : notices) {
        EXPECT_EQ(notice.caption, QStringLiteral("velmora"));
        EXPECT_EQ(notice.buttons, QStringList{QStringLiteral("确定")});
        EXPECT_FALSE(notice.hasIcon);
        EXPECT_TRUE(notice.applicationModal);
    }
    EXPECT_EQ(flags(), kPausedRow);
    EXPECT_EQ(status(), QStringLiteral("    准备就绪"));
}

TEST_F(MainWindowTest, AFailingPlayerIsReportedAndTheWindowGoesOn) {
    setFlags(kStartedSet);
    player->failOn("pause");
    std::vector<Notice> notices = noticesDuring([&] { click("C2"); });
    ASSERT_EQ(notices.size(), 1U);
    EXPECT_EQ(notices[0].caption, QStringLiteral("velmora"));
    EXPECT_EQ(notices[0].text, QStringLiteral("暂停时播放器出错：pause refused"));
    EXPECT_EQ(flags(), kStartedSet) << "the failed action set no button";

    player->failOn("URL");
    notices = noticesDuring([&] { QTest::keyClick(urlBox(), Qt::Key_Return); });
    ASSERT_EQ(notices.size(), 1U);
    EXPECT_EQ(urlBox()->text().toStdString(), playback::urlPrompt()) << "Enter stays consumed";

    player->failOn("");
    player->stateAfter["stop"] = Stopped;
    EXPECT_TRUE(noticesDuring([&] { click("Command3"); }).empty());
    EXPECT_EQ(player->calls, std::vector<std::string>{"stop"});
    EXPECT_EQ(flags(), kOnlyPlay);
}

TEST_F(MainWindowTest, TheLogoOpensTheHomePageAndTheLabelsDoNothing) {
    UrlCatcher opened;
    for (const char* name : {"Picture1", "Label1", "Label2", "Label3", "Label4", "Picture1"}) {
        click(name);
    }
    EXPECT_EQ(opened.urls(), QStringList(2, QStringLiteral("http://www.telvaro.example")));
    EXPECT_EQ(flags(), kOnlyPlay);
    EXPECT_TRUE(player->calls.empty());
}

TEST_F(MainWindowTest, TabFromTheUrlBoxSkipsDisabledButtonsAndEverythingElse) {
    const auto tabbedPath = [&](int steps) {
        QStringList path;
        for (int i = 0; i < steps; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            path.append(QApplication::focusWidget()->objectName());
        }
        return path;
    };
    EXPECT_EQ(tabbedPath(2), (QStringList{"Command1", "Text1"}));
    setFlags(kAllOn);
    EXPECT_EQ(tabbedPath(5), (QStringList{"Command1", "C2", "Command2", "Command3", "Text1"}));
    EXPECT_EQ(flags(), kAllOn) << "Tab is no key press of the URL box";
}

// The form is the design's size in twips at 15 a pixel, and the layout neither
// stretches nor moves a control with the window.
TEST_F(MainWindowTest, EveryControlKeepsItsRectangleAtAnyWindowSize) {
    EXPECT_EQ(window->centralWidget()->size(), QSize(530, 272));
    EXPECT_EQ(window->centralWidget()->y(), window->menuBar()->height());
    const QList<QWidget*> controls = window->centralWidget()->findChildren<QWidget*>();
    std::vector<QRect> designed;
    for (const QWidget* control : controls) {
        designed.push_back(control->geometry());
    }
    window->resize(900, 700);
    for (qsizetype i = 0; i < controls.size(); ++i) {
        EXPECT_EQ(controls[i]->geometry(), designed[static_cast<std::size_t>(i)])
            << controls[i]->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, WindowedControlsAreDrawnAboveTheLabels) {
    const std::pair<QPoint, const char*> overlaps[] = {
        {{100, 240}, "Picture1"},  // the logo over the notice
        {{115, 60}, "Text1"},      // the URL box over its caption
        {{488, 60}, "Command1"},   // Play over the URL box's last column
        {{20, 200}, "Label4"},     // the hidden player leaves the notice visible
        {{10, 164}, "Frame1"},
    };
    for (const auto& [point, topmost] : overlaps) {
        const QWidget* seen = window->centralWidget()->childAt(point);
        ASSERT_NE(seen, nullptr) << topmost;
        EXPECT_EQ(seen->objectName(), QString::fromLatin1(topmost));
    }
}

}  // namespace
}  // namespace velmora::ui::test
