#pragma once

#include <QProcess>
#include <QString>

namespace velmora::ui::test {

// A private X server on a free display, for the life of the object. It picks
// the display itself and reports it, so parallel runs never collide.
class XvfbDisplay {
  public:
    XvfbDisplay();
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // ":N"; throws std::runtime_error when the server did not come up.
    const QString& name() const { return name_; }

  private:
    QProcess server_;
    QString name_;
};

}  // namespace velmora::ui::test
