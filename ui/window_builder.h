#pragma once

#include <QFont>
#include <QHash>
#include <QString>
#include <QWidget>

#include "window_design.h"

namespace velmora::ui {

// The controls a build made, by design name.
class BuiltControls {
  public:
    void add(const QString& name, QWidget* control) { controls_.insert(name, control); }
    // Throws std::out_of_range for a name the design does not have.
    QWidget* get(const QString& name) const;
    template <typename Widget>
    Widget* get(const QString& name) const {
        return checkedCast<Widget>(get(name), name);
    }

  private:
    template <typename Widget>
    static Widget* checkedCast(QWidget* control, const QString& name);
    static void throwWrongKind(const QString& name);

    QHash<QString, QWidget*> controls_;
};

// Makes a window from its design: the window's own properties on `window`,
// the controls on `clientArea` (the window itself, or a main window's central
// widget below its menu bar). Nothing is laid out: every control keeps the
// design's rectangle whatever the window's size. Controls drawn on the window's
// surface (labels) stay below every other control; the others stack as child
// windows do on the platform the designs come from, the first created on top.
// Call it after a main window's menu bar exists, so the client area gets the
// design's size below it.
BuiltControls buildWindow(QWidget& window, QWidget& clientArea, const WindowDesign& design);

QFont toFont(const FontSpec& row);

template <typename Widget>
Widget* BuiltControls::checkedCast(QWidget* control, const QString& name) {
    auto* widget = qobject_cast<Widget*>(control);
    if (widget == nullptr) {
        throwWrongKind(name);
    }
    return widget;
}

}  // namespace velmora::ui
