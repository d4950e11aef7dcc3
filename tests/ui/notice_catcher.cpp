#include "notice_catcher.h"

#include <chrono>

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

namespace velmora::ui::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kPollInterval = 5ms;
constexpr auto kModalTimeout = 5s;

Notice describe(const QMessageBox& box) {
    Notice notice{box.windowTitle(),
                  box.text(),
                  {},
                  !box.iconPixmap().isNull(),
                  box.windowModality() == Qt::ApplicationModal};
    for (const QAbstractButton* button : box.buttons()) {
        notice.buttons.append(button->text());
        notice.hasIcon = notice.hasIcon || !button->icon().isNull();
    }
    return notice;
}

}  // namespace

std::vector<Notice> noticesDuring(const std::function<void()>& action,
                                  const std::function<void(QMessageBox&)>& onShown) {
    std::vector<Notice> notices;
    QElapsedTimer modalFor;
    QTimer poll;
    poll.setInterval(kPollInterval);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            modalFor.invalidate();
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            notices.push_back(describe(*box));
            if (onShown) {
                onShown(*box);
            }
            box->button(QMessageBox::Ok) != nullptr ? box->button(QMessageBox::Ok)->click()
                                                    : box->reject();
            return;
        }
        if (!modalFor.isValid()) {
            modalFor.start();
        } else if (modalFor.elapsed() > std::chrono::milliseconds(kModalTimeout).count()) {
            ADD_FAILURE() << "a modal window that is no message box stayed open: "
                          << modal->objectName().toStdString();
            modal->close();
        }
    });
    poll.start();
    action();
    poll.stop();
    return notices;
}

}  // namespace velmora::ui::test
