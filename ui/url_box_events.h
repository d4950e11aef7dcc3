#pragma once

#include <functional>
#include <optional>

#include <QObject>

class QKeyEvent;
class QLineEdit;

namespace velmora::ui {

// The character code a key press produces, as the URL box's key rule counts
// them: text keys including control characters, Enter 13, Backspace 8,
// Escape 27. Keys that produce none give nullopt: arrows, function keys,
// Delete, and Tab, which moves the focus instead.
std::optional<int> characterCode(const QKeyEvent& event);

// Turns the URL box's input into the two events its rules handle: a click
// (the left button pressed and released over the box) and a key press per
// character typed or committed by an input method.
class UrlBoxEvents : public QObject {
  public:
    // Gets a character code and returns the code to pass on; 0 consumes the key.
    using KeyHandler = std::function<int(int)>;
    using ClickHandler = std::function<void()>;

    UrlBoxEvents(QLineEdit& box, KeyHandler onKey, ClickHandler onClick);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool keyPress(const QKeyEvent& event);
    bool inputMethodCommit(const QString& committed);

    QLineEdit& box_;
    KeyHandler onKey_;
    ClickHandler onClick_;
    bool leftPressed_ = false;
};

}  // namespace velmora::ui
