#include "url_box_events.h"

#include <utility>

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>

namespace velmora::ui {
namespace {

constexpr int kBackspaceCode = 8;
constexpr int kEnterCode = 13;
constexpr int kEscapeCode = 27;

}  // namespace

std::optional<int> characterCode(const QKeyEvent& event) {
    switch (event.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return kEnterCode;
        case Qt::Key_Backspace:
            return kBackspaceCode;
        case Qt::Key_Escape:
            return kEscapeCode;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Delete:
            return std::nullopt;
        default:
            break;
    }
    const QString text = event.text();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    return static_cast<int>(text.toUcs4().value(0));
}

UrlBoxEvents::UrlBoxEvents(QLineEdit& box, KeyHandler onKey, ClickHandler onClick)
    : QObject(&box), box_(box), onKey_(std::move(onKey)), onClick_(std::move(onClick)) {
    box_.installEventFilter(this);
}

bool UrlBoxEvents::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &box_) {
        return false;
    }
    switch (event->type()) {
        case QEvent::KeyPress:
            return keyPress(*static_cast<QKeyEvent*>(event));
        case QEvent::InputMethod:
            return inputMethodCommit(static_cast<QInputMethodEvent*>(event)->commitString());
        case QEvent::MouseButtonPress:
            leftPressed_ = static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
            return false;
        case QEvent::MouseButtonRelease: {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const bool wasPressed = std::exchange(leftPressed_, false);
            if (wasPressed && mouse->button() == Qt::LeftButton &&
                box_.rect().contains(mouse->position().toPoint())) {
                onClick_();
            }
            return false;
        }
        default:
            return false;
    }
}

bool UrlBoxEvents::keyPress(const QKeyEvent& event) {
    const std::optional<int> code = characterCode(event);
    if (!code) {
        return false;
    }
    return onKey_(*code) == 0;
}

// Text composed in an input method arrives as one commit; each of its
// characters is a key press of its own, as typed characters are.
bool UrlBoxEvents::inputMethodCommit(const QString& committed) {
    bool consumed = false;
    for (const char32_t character : committed.toUcs4()) {
        consumed = onKey_(static_cast<int>(character)) == 0 || consumed;
    }
    return consumed;
}

}  // namespace velmora::ui
