#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QAction>
#include <QDesktopServices>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "qt_printers.h"

#include "notice_catcher.h"
#include "playback/error_notices.h"
#include "playback/url_box_rules.h"
#include "scripted_player.h"
#include "ui/main_window.h"
#include "ui/main_window_design.h"
#include "url_catcher.h"

namespace velmora::ui::test {
namespace {

using playback::play_state::Paused;
using playback::play_state::Playing;
using playback::play_state::Stopped;
using playback::play_state::Transitioning;

constexpr int kWindowTimeoutMs = 5000;

struct Flags {
    bool play;
    bool pause;
    bool resume;
    bool stop;
    bool operator==(const Flags&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Flags& flags) {
    return out << "play=" << flags.play << " pause=" << flags.pause << " continue=" << flags.resume
               << " stop=" << flags.stop;
}

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

    template <typename Widget = QWidget>
    Widget* control(const char* name) const {
        return window->controls().get<Widget>(name);
    }
    QLineEdit* urlBox() const { return control<QLineEdit>("Text1"); }
    void click(const char* name) const { QTest::mouseClick(control(name), Qt::LeftButton); }

    Flags flags() const {
        return {control("Command1")->isEnabled(), control("C2")->isEnabled(),
                control("Command2")->isEnabled(), control("Command3")->isEnabled()};
    }
    void setFlags(const Flags& wanted) const {
        control("C2")->setEnabled(wanted.pause);
        control("Command2")->setEnabled(wanted.resume);
        control("Command3")->setEnabled(wanted.stop);
    }
    QString status() const { return control<QLabel>("Label2")->text(); }
    void commitText(const QString& text) const {
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(urlBox(), &commit);
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
    EXPECT_EQ(player->listener, window.get());
    EXPECT_FALSE(control("WindowsMediaPlayer1")->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Velmora网络音乐播放器BY TELVARO"));
    EXPECT_EQ(window->centralWidget()->size(), QSize(530, 272));
}

TEST_F(MainWindowTest, CreatesThePlayerWithTheDesignSettings) {
    EXPECT_TRUE(player->settings.autoStart) << "Play sends no play command after the URL";
    EXPECT_EQ(player->settings.volume, 50);
    EXPECT_FALSE(player->settings.mute);
    EXPECT_EQ(player->settings.balance, 0);
    EXPECT_EQ(player->settings.rate, 1.0);
    EXPECT_EQ(player->settings.playCount, 1);
    EXPECT_FALSE(player->settings.enableErrorDialogs);
}

// One row per wired event: what the user or the player does, then what the
// player was asked and what the window shows.
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
    {"PlayPutsTheTypedUrlAndAppliesTheStartedSet",
     kOnlyPlay,
     [](MainWindowTest& t, ScriptedPlayer&) {
         t.urlBox()->setText(QStringLiteral(" http://127.0.0.1:9/a.mp3"));
         t.click("Command1");
     },
     {"setURL  http://127.0.0.1:9/a.mp3"},
     kStartedSet},
    {"PlayWithAnEmptyBoxPutsAnEmptyUrl",
     kOnlyPlay,
     [](MainWindowTest& t, ScriptedPlayer&) {
         t.urlBox()->clear();
         t.click("Command1");
     },
     {"setURL "},
     kStartedSet},
    {"PauseThatReachesPausedAppliesThePausedRow",
     kStartedSet,
     [](MainWindowTest& t, ScriptedPlayer& p) {
         p.stateAfter["pause"] = Paused;
         t.click("C2");
     },
     {"pause"},
     kPausedRow},
    {"PauseStillUnderWayChangesNoButton",
     kStartedSet,
     [](MainWindowTest& t, ScriptedPlayer& p) {
         p.state = Transitioning;
         t.click("C2");
     },
     {"pause"},
     kStartedSet},
    {"ContinueThatReachesPlayingAppliesThePlayingRow",
     kPausedRow,
     [](MainWindowTest& t, ScriptedPlayer& p) {
         p.stateAfter["play"] = Playing;
         t.click("Command2");
     },
     {"play"},
     kStartedSet},
    {"StopThatReachesStoppedDisablesAllButPlay",
     kStartedSet,
     [](MainWindowTest& t, ScriptedPlayer& p) {
         p.stateAfter["stop"] = Stopped;
         t.click("Command3");
     },
     {"stop"},
     kOnlyPlay},
    {"ADisabledButtonSendsNothing",
     kOnlyPlay,
     [](MainWindowTest& t, ScriptedPlayer&) {
         t.click("C2");
         t.click("Command2");
         t.click("Command3");
     },
     {},
     kOnlyPlay},
    {"TypingACharacterAppliesTheStartedSetAndTypes",
     kOnlyPlay,
     [](MainWindowTest& t, ScriptedPlayer&) {
         t.urlBox()->clear();
         QTest::keyClick(t.urlBox(), Qt::Key_A);
         EXPECT_EQ(t.urlBox()->text(), QStringLiteral("a"));
     },
     {},
     kStartedSet},
    {"BackspaceAndEscapeAreKeyPressesToo",
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
    {"ChineseFromAnInputMethodIsTypedAsKeyPresses",
     kOnlyPlay,
     [](MainWindowTest& t, ScriptedPlayer&) {
         t.urlBox()->clear();
         t.commitText(QStringLiteral("歌曲"));
         EXPECT_EQ(t.urlBox()->text(), QStringLiteral("歌曲"));
     },
     {},
     kStartedSet},
    {"EnterPutsTheBoxTextAndInsertsNothing",
     kOnlyPlay,
     [](MainWindowTest& t, ScriptedPlayer&) {
         QSignalSpy returnPressed(t.urlBox(), &QLineEdit::returnPressed);
         QTest::keyClick(t.urlBox(), Qt::Key_Return);
         EXPECT_EQ(returnPressed.count(), 0) << "Enter must be consumed before the box sees it";
         EXPECT_EQ(t.urlBox()->text().toStdString(), playback::urlPrompt());
     },
     {"setURL " + playback::urlPrompt()},
     kStartedSet},
    {"StatusChangeShowsTheStatusAndFollowsThePlayState",
     kOnlyPlay,
     [](MainWindowTest& t, ScriptedPlayer& p) {
         p.state = Paused;
         p.statusText = "已暂停";
         p.listener->onStatusChange();
         EXPECT_EQ(t.status(), QStringLiteral("  已暂停"));
     },
     {},
     kPausedRow},
    {"StatusChangeWhileBufferingOnlyUpdatesTheCaption",
     kStartedSet,
     [](MainWindowTest& t, ScriptedPlayer& p) {
         p.state = playback::play_state::Buffering;
         p.listener->onStatusChange();
         EXPECT_EQ(t.status(), QStringLiteral("  "));
     },
     {},
     kStartedSet},
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

TEST_F(MainWindowTest, ClickIntoAnEditedPromptChangesNothing) {
    urlBox()->setText(urlBox()->text() + QStringLiteral("x"));
    const QString edited = urlBox()->text();
    click("Text1");
    EXPECT_EQ(urlBox()->text(), edited);
}

TEST_F(MainWindowTest, PlayerNoticesShowOneModalBoxEachAndChangeNothing) {
    setFlags(kPausedRow);
    const std::vector<Notice> notices = noticesDuring([&] {
        player->listener->onWarning(1, 2, "ignored");
        player->listener->onWarning(3, 4, "also ignored");
        player->listener->onMediaError();
    });
    const QString warning = QString::fromUtf8(playback::kWarningNotice.data());
    const QString mediaError = QString::fromUtf8(playback::kMediaErrorNotice.data());
    ASSERT_EQ(notices.size(), 3U);
    EXPECT_EQ(notices[0].text, warning);
    EXPECT_EQ(notices[1].text, warning);
    EXPECT_EQ(notices[2].text, mediaError);
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
    player->failing = {"pause"};
    std::vector<Notice> notices = noticesDuring([&] { click("C2"); });
    ASSERT_EQ(notices.size(), 1U);
    EXPECT_EQ(notices[0].caption, QStringLiteral("velmora"));
    EXPECT_EQ(notices[0].text, QStringLiteral("暂停时播放器出错：模拟的pause故障"));
    EXPECT_EQ(flags(), kStartedSet) << "the failed action set no button";

    player->failing = {"setURL"};
    notices = noticesDuring([&] { QTest::keyClick(urlBox(), Qt::Key_Return); });
    ASSERT_EQ(notices.size(), 1U);
    EXPECT_EQ(urlBox()->text().toStdString(), playback::urlPrompt()) << "Enter stays consumed";

    player->failing.clear();
    player->stateAfter["stop"] = Stopped;
    EXPECT_TRUE(noticesDuring([&] { click("Command3"); }).empty());
    EXPECT_EQ(player->calls, std::vector<std::string>{"stop"});
    EXPECT_EQ(flags(), kOnlyPlay);
}

TEST_F(MainWindowTest, TheLogoOpensTheHomePageAndNothingElseDoes) {
    UrlCatcher opened;
    click("Picture1");
    click("Picture1");
    for (const char* label : {"Label1", "Label2", "Label3", "Label4"}) {
        click(label);
    }
    EXPECT_EQ(opened.urls(), (QStringList{QStringLiteral("http://www.telvaro.example"),
                                          QStringLiteral("http://www.telvaro.example")}));
    EXPECT_EQ(flags(), kOnlyPlay);
    EXPECT_TRUE(player->calls.empty());
}

TEST_F(MainWindowTest, TheAboutItemIsASingleTopLevelActionWithoutMenu) {
    const QList<QAction*> items = window->menuBar()->actions();
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items[0]->text(), QStringLiteral("关于"));
    EXPECT_EQ(items[0]->objectName(), QStringLiteral("关于"));
    EXPECT_EQ(items[0]->menu(), nullptr);
    EXPECT_TRUE(items[0]->shortcut().isEmpty());
    items[0]->trigger();
    ASSERT_NE(about.openWindow(), nullptr);
    EXPECT_TRUE(about.openWindow()->isVisible());
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

TEST(MainWindowLifetime, ClosingTheShownWindowDestroysItAndItsPlayer) {
    AboutWindow about;
    ScriptedPlayer* player = nullptr;
    bool playerDestroyed = false;
    QPointer<MainWindow> window =
        openMainWindow(scriptedPlayerFactory(player, &playerDestroyed), about);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.data(), kWindowTimeoutMs));
    EXPECT_TRUE(window->isVisible());
    window->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, kWindowTimeoutMs));
    EXPECT_TRUE(playerDestroyed);
}

TEST(MainWindowLifetime, APlayerThatCannotBeCreatedFailsTheWindow) {
    AboutWindow about;
    const PlayerFactory failing =
        [](const playback::PlayerSettings&) -> std::unique_ptr<playback::Player> {
        throw playback::PlayerError("没有声音输出");
    };
    EXPECT_THROW(MainWindow window(failing, about), playback::PlayerError);
}

}  // namespace
}  // namespace velmora::ui::test
