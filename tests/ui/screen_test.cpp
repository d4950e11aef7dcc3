#include <algorithm>
#include <map>
#include <memory>

#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QFontInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QRawFont>
#include <QScreen>
#include <QTest>

#include "notice_catcher.h"
#include "qt_printers.h"
#include "scripted_player.h"
#include "ui/about_window.h"
#include "ui/main_window.h"

namespace velmora::ui::test {
namespace {

using playback::testing::ScriptedPlayer;
using playback::testing::scriptedPlayerFactory;

constexpr int kWindowTimeoutMs = 10000;
// A pixel counts as ink when one channel differs this much from the
// control's most common colour: far above antialiasing noise on a flat
// background, below the contrast of the faintest (disabled) caption.
constexpr int kInkContrast = 40;
// Moving text by whole pixels keeps its ink; a cut loses far more than this.
constexpr double kWholeInkShare = 0.98;
// Even the smallest glyph of these fonts leaves more ink than this.
constexpr int kInkPixelsPerCharacter = 3;

// Every character of the text must come from a face the control's family
// list names and that has a real glyph for it, in a real bold face where the
// font is bold.
void expectRealGlyphs(const QString& what, const QFont& font, const QString& text) {
    const QRawFont face = QRawFont::fromFont(font, QFontDatabase::SimplifiedChinese);
    ASSERT_TRUE(face.isValid()) << what.toStdString();
    EXPECT_TRUE(font.families().contains(face.familyName()))
        << what.toStdString() << " is drawn in " << face.familyName().toStdString()
        << ", which its family list does not name";
    EXPECT_EQ(QFontInfo(font).family(), face.familyName()) << what.toStdString();
    if (font.bold()) {
        EXPECT_EQ(face.styleName(), QStringLiteral("Bold"))
            << what.toStdString() << " is not a real bold";
    }
    for (const char32_t character : text.toUcs4()) {
        if (character != U' ') {
            EXPECT_TRUE(face.supportsCharacter(character))
                << what.toStdString() << ": no glyph for U+" << std::hex
                << static_cast<unsigned>(character);
        }
    }
}

int inkPixels(const QImage& shot, const QRect& area) {
    std::map<QRgb, int> histogram;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            ++histogram[shot.pixel(x, y)];
        }
    }
    const QColor background =
        std::max_element(histogram.begin(), histogram.end(), [](const auto& a, const auto& b) {
            return a.second < b.second;
        })->first;
    int ink = 0;
    for (const auto& [rgb, count] : histogram) {
        const QColor color(rgb);
        const int contrast = std::max({std::abs(color.red() - background.red()),
                                       std::abs(color.green() - background.green()),
                                       std::abs(color.blue() - background.blue())});
        ink += contrast >= kInkContrast ? count : 0;
    }
    return ink;
}

// What the X server shows of the window, saved where the build keeps it.
QImage screenshot(QWidget& window, const QString& name) {
    window.repaint();
    const QImage shot = window.screen()->grabWindow(window.winId()).toImage();
    const QDir folder(QStringLiteral(VELMORA_SCREENSHOT_DIR));
    folder.mkpath(QStringLiteral("."));
    EXPECT_TRUE(shot.save(folder.filePath(name + QStringLiteral(".png"))));
    return shot;
}

// A label's text is whole when it leaves as much ink as the same text drawn
// in a label tall enough for it. Each is drawn on its own, so that controls
// stacked above the label do not count.
void expectTextNotCut(const QString& what, const QLabel& label) {
    QLabel whole(label.text());
    whole.setFont(label.font());
    whole.setPalette(label.palette());
    whole.setAutoFillBackground(true);
    whole.setWordWrap(label.wordWrap());
    whole.setAlignment(label.alignment());
    whole.resize(label.width(), 3 * label.height());
    const QImage drawn = const_cast<QLabel&>(label).grab().toImage();
    const QImage uncut = whole.grab().toImage();
    EXPECT_GE(inkPixels(drawn, drawn.rect()), inkPixels(uncut, uncut.rect()) * kWholeInkShare)
        << what.toStdString() << " is cut at its edges";
}

void expectEveryTextShown(QWidget& window, const QImage& shot) {
    for (QWidget* control : window.findChildren<QWidget*>()) {
        // Labels, buttons and the URL box show their "text" property.
        const QString text = control->property("text").toString();
        if (text.trimmed().isEmpty() || !control->isVisible()) {
            continue;
        }
        const QString what = window.objectName() + "." + control->objectName();
        expectRealGlyphs(what, control->font(), text);
        const QRect area =
            QRect(control->mapTo(&window, QPoint(0, 0)), control->size()).intersected(shot.rect());
        const int visibleCharacters = static_cast<int>(text.trimmed().size());
        EXPECT_GE(inkPixels(shot, area), std::min(visibleCharacters, 40) * kInkPixelsPerCharacter)
            << what.toStdString() << " shows no text";
        if (auto* label = qobject_cast<QLabel*>(control)) {
            expectTextNotCut(what, *label);
        }
    }
}

// The main window, the about window beside it and a notice over them.
TEST(OnScreen, EveryWindowShowsEveryTextInRealGlyphs) {
    AboutWindow about;
    ScriptedPlayer* player = nullptr;
    MainWindow window(scriptedPlayerFactory(player), about);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, kWindowTimeoutMs));
    const QImage shot = screenshot(window, QStringLiteral("Form1"));
    EXPECT_EQ(shot.size(), QSize(530, 272 + window.menuBar()->height()));
    expectEveryTextShown(window, shot);
    expectRealGlyphs("menu item", window.menuBar()->font(), QStringLiteral("关于"));

    about.show();
    QWidget* aboutWindow = about.openWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(aboutWindow, kWindowTimeoutMs));
    const QImage aboutShot = screenshot(*aboutWindow, QStringLiteral("Form2"));
    EXPECT_EQ(aboutShot.size(), QSize(304, 122));
    expectEveryTextShown(*aboutWindow, aboutShot);

    const std::vector<Notice> notices =
        noticesDuring([&] { player->listener->onWarning(0, 0, {}); },
                      [](QMessageBox& box) {
                          ASSERT_TRUE(QTest::qWaitForWindowExposed(&box, kWindowTimeoutMs));
                          expectEveryTextShown(box, screenshot(box, QStringLiteral("Notice")));
                      });
    ASSERT_EQ(notices.size(), 1U);
    EXPECT_EQ(notices[0].buttons, QStringList{QStringLiteral("确定")});
    EXPECT_FALSE(notices[0].hasIcon) << "the desktop style must not decorate the notice";
}

}  // namespace
}  // namespace velmora::ui::test
