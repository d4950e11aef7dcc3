#include <memory>

#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QTest>

#include "qt_printers.h"

#include "scripted_player.h"
#include "ui/about_window.h"
#include "ui/application_icon.h"
#include "ui/main_window.h"
#include "ui/picture_box.h"
#include "url_catcher.h"

namespace velmora::ui::test {
namespace {

constexpr int kWindowTimeoutMs = 5000;

int openAboutWindows() {
    int count = 0;
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        count += widget->objectName() == QStringLiteral("Form2") ? 1 : 0;
    }
    return count;
}

// Closes the window as its close button would, and waits until it is gone.
bool closeAndWaitGone(QWidget* window) {
    QPointer<QWidget> watched = window;
    window->close();
    return QTest::qWaitFor([&] { return watched.isNull(); }, kWindowTimeoutMs);
}

template <typename Widget = QWidget>
Widget* aboutControl(const AboutWindow& about, const char* name) {
    return about.openWindow()->findChild<Widget*>(QString::fromLatin1(name));
}

TEST(AboutWindow, OneWindowWhileOpenAndAFreshOneAfterClose) {
    AboutWindow about;
    EXPECT_EQ(about.openWindow(), nullptr) << "nothing exists before the first Show";
    about.show();
    QWidget* first = about.openWindow();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(first, kWindowTimeoutMs));
    aboutControl<QLabel>(about, "Label1")->setText(QStringLiteral("changed"));
    about.show();
    EXPECT_EQ(about.openWindow(), first);
    EXPECT_EQ(openAboutWindows(), 1);

    ASSERT_TRUE(closeAndWaitGone(first)) << "closing destroys the window";
    EXPECT_EQ(about.openWindow(), nullptr);
    EXPECT_EQ(openAboutWindows(), 0);

    about.show();
    ASSERT_NE(about.openWindow(), nullptr);
    EXPECT_EQ(openAboutWindows(), 1);
    EXPECT_EQ(aboutControl<QLabel>(about, "Label1")->text().trimmed(),
              QStringLiteral("一个可以播放网络音乐的小软件"))
        << "the new window comes from the design, not from the closed one";
}

TEST(AboutWindow, IsAModelessTopLevelWindowWithoutIcon) {
    QApplication::setWindowIcon(applicationIcon());
    AboutWindow about;
    about.show();
    QWidget* window = about.openWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window, kWindowTimeoutMs));
    EXPECT_EQ(window->parentWidget(), nullptr);
    EXPECT_TRUE(window->isWindow());
    EXPECT_EQ(window->windowModality(), Qt::NonModal);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("关于。。"));
    EXPECT_EQ(window->size(), QSize(304, 122));
    EXPECT_TRUE(window->windowIcon().isNull()) << "the application icon must not show";
    EXPECT_EQ(window->palette().color(QPalette::Window),
              QApplication::palette().color(QPalette::Window));
    EXPECT_EQ(QApplication::focusWidget(), aboutControl(about, "Picture1"));
    QApplication::setWindowIcon(QIcon());
}

TEST(AboutWindow, ShowsItsFourControlsWithTheirTextsAndRectangles) {
    AboutWindow about;
    about.show();
    struct Expected {
        const char* name;
        QString text;
        QRect pixels;
    };
    const Expected controls[] = {
        {"Picture1", {}, {0, 104, 305, 17}},
        {"Label1",
         QString(9, ' ') + QStringLiteral("一个可以播放网络音乐的小软件") + QString(7, ' '),
         {8, 16, 297, 25}},
        {"Label2", QString(15, ' ') + QStringLiteral("作者 \uFF1ATelvaro"), {16, 40, 289, 25}},
        {"Label3",
         QStringLiteral("telvaro@telvaro.example") + QString(11, ' ') + QStringLiteral("2012/8/1"),
         {32, 72, 265, 25}},
    };
    EXPECT_EQ(controls[1].text.size(), 30);
    for (const Expected& expected : controls) {
        QWidget* control = aboutControl(about, expected.name);
        ASSERT_NE(control, nullptr) << expected.name;
        EXPECT_EQ(control->geometry(), expected.pixels) << expected.name;
        if (auto* label = qobject_cast<QLabel*>(control)) {
            EXPECT_EQ(label->text(), expected.text) << expected.name;
            EXPECT_EQ(label->focusPolicy(), Qt::NoFocus) << expected.name;
        }
    }
    EXPECT_EQ(about.openWindow()->findChildren<QWidget*>().size(), 4);
}

TEST(AboutWindow, TheBannerIsSunkenAndShowsTheImageUnscaledAndClipped) {
    AboutWindow about;
    about.show();
    auto* banner = aboutControl<PictureBox>(about, "Picture1");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about.openWindow(), kWindowTimeoutMs));
    EXPECT_EQ(banner->frameShadow(), QFrame::Sunken);
    ASSERT_EQ(banner->picture().size(), QSize(306, 20)) << "the banner image is compiled in";

    const QImage shown = banner->grab().toImage();
    const QImage image = banner->picture().toImage();
    const QRect inner = banner->contentsRect();
    EXPECT_LT(inner.width(), image.width()) << "the box is smaller than the image";
    for (const QPoint at : {QPoint(0, 0), QPoint(inner.width() - 1, inner.height() - 1),
                            QPoint(inner.width() / 2, inner.height() / 2)}) {
        EXPECT_EQ(shown.pixel(inner.topLeft() + at), image.pixel(at))
            << "image pixel " << at.x() << "," << at.y() << " drawn in place";
    }
}

TEST(AboutWindow, OnlyTheBannerOpensTheHomePage) {
    AboutWindow about;
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about.openWindow(), kWindowTimeoutMs));
    UrlCatcher opened;
    for (const char* label : {"Label1", "Label2", "Label3"}) {
        QTest::mouseClick(aboutControl(about, label), Qt::LeftButton);
    }
    QTest::mouseClick(about.openWindow(), Qt::LeftButton, {}, QPoint(300, 5));
    EXPECT_TRUE(opened.urls().isEmpty());
    QTest::mouseClick(aboutControl(about, "Picture1"), Qt::LeftButton);
    EXPECT_EQ(opened.urls(), QStringList{QStringLiteral("http://www.telvaro.example")});
    EXPECT_NE(about.openWindow(), nullptr) << "the window stays open";
}

TEST(AboutWindow, StaysOpenWithoutTheMainWindowWhichStaysUsableBeside) {
    AboutWindow about;
    ScriptedPlayer* player = nullptr;
    bool playerDestroyed = false;
    QPointer<MainWindow> main =
        openMainWindow(scriptedPlayerFactory(player, &playerDestroyed), about);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.data(), kWindowTimeoutMs));
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about.openWindow(), kWindowTimeoutMs));

    QTest::mouseClick(main->controls().get("Command1"), Qt::LeftButton);
    EXPECT_EQ(player->calls.size(), 1U) << "the about window is modeless";

    ASSERT_TRUE(closeAndWaitGone(main.data()));
    EXPECT_TRUE(playerDestroyed);
    ASSERT_NE(about.openWindow(), nullptr);
    EXPECT_TRUE(about.openWindow()->isVisible());
    ASSERT_TRUE(closeAndWaitGone(about.openWindow()));
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        EXPECT_FALSE(widget->isVisible()) << widget->objectName().toStdString() << " still open";
    }
}

}  // namespace
}  // namespace velmora::ui::test
