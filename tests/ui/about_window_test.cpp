#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTest>

#include "qt_printers.h"
#include "scripted_player.h"
#include "ui/about_window.h"
#include "ui/main_window.h"
#include "ui/picture_box.h"
#include "url_catcher.h"

namespace velmora::ui::test {
namespace {

using playback::testing::ScriptedPlayer;
using playback::testing::scriptedPlayerFactory;

constexpr int kWindowTimeoutMs = 5000;

class AboutWindowTest : public testing::Test {
  public:
    QWidget* open() {
        about.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(about.openWindow(), kWindowTimeoutMs));
        return about.openWindow();
    }
    template <typename Widget = QWidget>
    Widget* control(const char* name) const {
        return about.openWindow()->findChild<Widget*>(QString::fromLatin1(name));
    }
    // Closes a window as its close button does and waits until it is gone.
    static bool closeAndWaitGone(QWidget* window) {
        QPointer<QWidget> watched = window;
        window->close();
        return QTest::qWaitFor([&] { return watched.isNull(); }, kWindowTimeoutMs);
    }
    static int aboutWindowsInExistence() {
        const QWidgetList windows = QApplication::topLevelWidgets();
        return static_cast<int>(std::count_if(windows.begin(), windows.end(), [](const QWidget* w) {
            return w->objectName() == QStringLiteral("Form2");
        }));
    }

    AboutWindow about;
};

TEST_F(AboutWindowTest, OneWindowWhileOpenAndAFreshOneAfterClose) {
    EXPECT_EQ(about.openWindow(), nullptr) << "nothing exists before the first Show";
    QWidget* first = open();
    control<QLabel>("Label1")->setText(QStringLiteral("changed"));
    about.show();
    EXPECT_EQ(about.openWindow(), first);
    EXPECT_EQ(aboutWindowsInExistence(), 1);

    ASSERT_TRUE(closeAndWaitGone(first)) << "closing destroys the window";
    EXPECT_EQ(about.openWindow(), nullptr);
    EXPECT_EQ(aboutWindowsInExistence(), 0);

    open();
    EXPECT_EQ(aboutWindowsInExistence(), 1);
    EXPECT_EQ(control<QLabel>("Label1")->text().trimmed(),
              QStringLiteral("一个可以播放网络音乐的小软件"))
        << "the new window comes from the design, not from the closed one";
}

TEST_F(AboutWindowTest, OpensAsAModelessTopLevelWindowWithoutTheIcon) {
    const QWidget* window = open();
    EXPECT_EQ(window->parentWidget(), nullptr);
    EXPECT_TRUE(window->windowIcon().isNull()) << "the application icon must not show";
    EXPECT_EQ(QApplication::focusWidget(), control("Picture1"));

    for (const char* label : {"Label1", "Label2", "Label3"}) {
        EXPECT_EQ(control(label)->focusPolicy(), Qt::NoFocus) << label;
    }
}

TEST_F(AboutWindowTest, TheBannerIsSunkenAndShowsTheImageUnscaledAndClipped) {
    open();
    auto* banner = control<PictureBox>("Picture1");
    EXPECT_EQ(banner->frameShadow(), QFrame::Sunken);
    ASSERT_EQ(banner->picture().size(), QSize(306, 20)) << "the banner image is compiled in";
    const QImage shown = banner->grab().toImage();
    const QImage image = banner->picture().toImage();
    const QRect inner = banner->contentsRect();
    EXPECT_LT(inner.width(), image.width()) << "the box is smaller than the image";
    for (const QPoint at : {QPoint(0, 0), QPoint(inner.width() - 1, inner.height() - 1),
                            QPoint(inner.width() / 2, inner.height() / 2)}) {
        EXPECT_EQ(shown.pixel(inner.topLeft() + at), image.pixel(at)) << at.x() << "," << at.y();
    }
}

TEST_F(AboutWindowTest, OnlyTheBannerOpensTheHomePage) {
    QWidget* window = open();
    UrlCatcher opened;
    for (const char* label : {"Label1", "Label2", "Label3"}) {
        QTest::mouseClick(control(label), Qt::LeftButton);
    }
    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(300, 5));
    EXPECT_TRUE(opened.urls().isEmpty());
    QTest::mouseClick(control("Picture1"), Qt::LeftButton);
    EXPECT_EQ(opened.urls(), QStringList{QStringLiteral("http://www.telvaro.example")});
    EXPECT_EQ(about.openWindow(), window) << "the window stays open";
}

TEST_F(AboutWindowTest, OutlivesTheMainWindowWhichStaysUsableBeside) {
    ScriptedPlayer* player = nullptr;
    bool playerDestroyed = false;
    QPointer<MainWindow> main =
        openMainWindow(scriptedPlayerFactory(player, &playerDestroyed), about);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.data(), kWindowTimeoutMs));
    open();
    QTest::mouseClick(main->controls().get("Command1"), Qt::LeftButton);
    EXPECT_EQ(player->calls.size(), 1U) << "the about window is modeless";

    ASSERT_TRUE(closeAndWaitGone(main.data()));
    EXPECT_TRUE(playerDestroyed);
    ASSERT_NE(about.openWindow(), nullptr);
    EXPECT_TRUE(about.openWindow()->isVisible());
}

}  // namespace
}  // namespace velmora::ui::test
