#pragma once

#include <functional>
#include <vector>

#include <QString>
#include <QStringList>

class QMessageBox;

namespace velmora::ui::test {

struct Notice {
    QString caption;
    QString text;
    QStringList buttons;
    bool hasIcon = false;  // on the box or on a button
    bool applicationModal = false;
};

// Runs `action`, then the event loop until no modal window is left, answering
// every message box that opens with its OK button; returns what each box
// showed, in order; `onShown` sees each
// box before it is answered. A modal window that is no message box and stays
// open past the timeout fails the test and is closed.
std::vector<Notice> noticesDuring(const std::function<void()>& action,
                                  const std::function<void(QMessageBox&)>& onShown = {});

}  // namespace velmora::ui::test
