#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

#include "qt_printers.h"

#include "scripted_player.h"
#include "ui/main_window.h"
#include "ui/window_design.h"

namespace velmora::ui::test {
namespace {

constexpr int kWindowTimeoutMs = 5000;

// Where each control must be, in pixels, worked out by hand from the twips
// of the layouts at 15 twips a pixel.
struct Placement {
    const char* name;
    QRect pixels;
};

const Placement kMainWindowPlacements[] = {
    {"Frame1", {8, 160, 505, 9}},     {"Command3", {144, 88, 49, 25}},
    {"Command2", {80, 88, 57, 25}},   {"C2", {16, 88, 57, 25}},
    {"Picture1", {96, 232, 305, 25}}, {"Command1", {488, 40, 41, 33}},
    {"Text1", {112, 48, 377, 25}},    {"Label2", {0, 128, 473, 25}},
    {"Label4", {0, 192, 529, 73}},    {"Label3", {0, 48, 121, 25}},
    {"Label1", {0, 8, 409, 17}},      {"WindowsMediaPlayer1", {8, 176, 505, 81}},
};

// Points where controls overlap, and the control that must be seen there.
struct Overlap {
    QPoint point;
    const char* topmost;
};

const Overlap kMainWindowOverlaps[] = {
    {{100, 240}, "Picture1"},  // the logo over the notice
    {{115, 60}, "Text1"},      // the URL box over its caption
    {{488, 60}, "Command1"},   // Play over the URL box's last column
    {{20, 200}, "Label4"},     // the hidden player leaves the notice visible
    {{300, 250}, "Picture1"},  // ... and the logo
    {{10, 164}, "Frame1"},    {{5, 10}, "Label1"},
};

class MainWindowLayoutTest : public testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<MainWindow>(scriptedPlayerFactory(player), about);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get(), kWindowTimeoutMs));
    }
    QWidget* clientArea() const { return window->centralWidget(); }

    AboutWindow about;
    ScriptedPlayer* player = nullptr;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowLayoutTest, EveryControlHasItsRectangleAtAnyWindowSize) {
    const QSize designSize = window->size();
    EXPECT_EQ(clientArea()->size(), QSize(530, 272));
    EXPECT_EQ(clientArea()->y(), window->menuBar()->height())
        << "the client area lies below the menu";
    for (const QSize size : {designSize, QSize(900, 700), QSize(200, 120)}) {
        window->resize(size);
        QTest::qWait(0);
        for (const Placement& placement : kMainWindowPlacements) {
            EXPECT_EQ(window->controls().get(placement.name)->geometry(), placement.pixels)
                << placement.name << " at window size " << size.width() << "x" << size.height();
        }
    }
}

TEST_F(MainWindowLayoutTest, WindowedControlsAreDrawnAboveTheLabels) {
    for (const Overlap& overlap : kMainWindowOverlaps) {
        const QWidget* seen = clientArea()->childAt(overlap.point);
        ASSERT_NE(seen, nullptr) << overlap.topmost;
        EXPECT_EQ(seen->objectName(), QString::fromLatin1(overlap.topmost));
    }
}

TEST_F(MainWindowLayoutTest, ControlsCarryTheirFontsAndColours) {
    struct Look {
        const char* name;
        const char* family;
        int pointSize;
        QColor text;
    };
    const Look looks[] = {
        {"Label1", "宋体", 12, Qt::black},
        {"Label2", "微软雅黑", 12, QColor(0, 0, 192)},
        {"Label3", "微软雅黑", 12, Qt::black},
        {"Label4", "微软雅黑", 9, Qt::red},
        {"C2", "新宋体", 12, {}},
        {"Command2", "新宋体", 12, {}},
        {"Command3", "新宋体", 12, {}},
    };
    for (const Look& look : looks) {
        const QWidget* control = window->controls().get(look.name);
        const QStringList families = control->font().families();
        ASSERT_GE(families.size(), 2) << look.name << " needs an installed fallback";
        EXPECT_EQ(families.front(), QString::fromUtf8(look.family)) << look.name;
        EXPECT_EQ(control->font().pointSize(), look.pointSize) << look.name;
        EXPECT_TRUE(control->font().bold()) << look.name;
        if (look.text.isValid()) {
            EXPECT_EQ(control->palette().color(QPalette::WindowText), look.text) << look.name;
            EXPECT_EQ(control->palette().color(QPalette::Window), QColor(Qt::white)) << look.name;
            EXPECT_TRUE(control->autoFillBackground())
                << look.name << " draws an opaque background";
        }
    }
    EXPECT_EQ(clientArea()->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(clientArea()->autoFillBackground());
}

TEST_F(MainWindowLayoutTest, NoButtonIsTheDefaultAndNoCaptionHasAnAccessKey) {
    for (const char* name : {"Command1", "C2", "Command2", "Command3"}) {
        const auto* button = window->controls().get<QPushButton>(name);
        EXPECT_FALSE(button->isDefault()) << name;
        EXPECT_FALSE(button->autoDefault()) << name;
        EXPECT_FALSE(button->text().contains('&')) << name;
    }
    EXPECT_TRUE(window->controls().get<QGroupBox>("Frame1")->title().isEmpty());
}

TEST_F(MainWindowLayoutTest, OnlyTheUrlBoxAndTheButtonsTakeTheFocus) {
    for (const char* name :
         {"Label1", "Label2", "Label3", "Label4", "Frame1", "Picture1", "WindowsMediaPlayer1"}) {
        EXPECT_EQ(window->controls().get(name)->focusPolicy(), Qt::NoFocus) << name;
    }
    for (const char* name : {"Text1", "Command1", "C2", "Command2", "Command3"}) {
        EXPECT_TRUE(window->controls().get(name)->focusPolicy() & Qt::TabFocus) << name;
    }
}

TEST(WindowBuilder, UnknownControlNamesAndWrongKindsAreErrors) {
    AboutWindow about;
    ScriptedPlayer* player = nullptr;
    const MainWindow window(scriptedPlayerFactory(player), about);
    EXPECT_THROW(window.controls().get("Command4"), std::out_of_range);
    EXPECT_THROW(window.controls().get<QPushButton>("Label1"), std::logic_error);
}

}  // namespace
}  // namespace velmora::ui::test
