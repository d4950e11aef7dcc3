#pragma once

#include <functional>
#include <vector>

#include <QString>
#include <QStringList>

namespace velmora::ui::test {

struct Notice {
    QString caption;
    QString text;
    QStringList buttons;
    bool hasIcon = false;
    bool applicationModal = false;
};

// Runs `action`, answering every message box that opens meanwhile with its
// OK button, and returns what each box showed, in order. A modal window that
// is no message box, or a box still open after the timeout, fails the test.
std::vector<Notice> noticesDuring(const std::function<void()>& action);

}  // namespace velmora::ui::test
