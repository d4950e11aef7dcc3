#pragma once

#include <QProcess>
#include <QString>

namespace velmora::ui::test {

// A private X server for the life of the object. It picks a free display and
// reports it, so parallel runs never collide. Throws std::runtime_error when
// the server does not come up.
class XvfbDisplay {
  public:
    XvfbDisplay();
    ~XvfbDisplay();
    const QString& name() const { return name_; }  // ":N"

  private:
    QProcess server_;
    QString name_;
};

}  // namespace velmora::ui::test
