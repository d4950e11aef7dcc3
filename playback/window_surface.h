#pragma once

#include <string>

namespace velmora::playback {

// The three transport buttons whose enabled flag follows the play state,
// under the main window's control names. Play (Command1) is never changed.
enum class TransportButton {
    C2,        // Pause
    Command2,  // Continue
    Command3,  // Stop
};

// What the main window lets the playback rules change.
class TransportView {
  public:
    virtual ~TransportView() = default;
    virtual void setButtonEnabled(TransportButton button, bool enabled) = 0;
    virtual void setStatusCaption(const std::string& caption) = 0;  // Label2
};

// The URL box (Text1).
class UrlBox {
  public:
    virtual ~UrlBox() = default;
    virtual std::string text() const = 0;
    virtual void setText(const std::string& text) = 0;
};

// Shows a modal message box with an OK button only and no icon. It may return
// before the user has closed the box: the rules change nothing after a notice.
class Notifier {
  public:
    virtual ~Notifier() = default;
    virtual void showNotice(const std::string& caption, const std::string& text) = 0;
};

}  // namespace velmora::playback
