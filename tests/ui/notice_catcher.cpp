#include "notice_catcher.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QTimer>

namespace velmora::ui::test {
namespace {

constexpr int kPollIntervalMs = 5;
constexpr int kOtherModalTimeoutMs = 5000;

}  // namespace

std::vector<Notice> noticesDuring(const std::function<void()>& action,
                                  const std::function<void(QMessageBox&)>& onShown) {
    std::vector<Notice> notices;
    QDeadlineTimer otherModalDeadline(kOtherModalTimeoutMs);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box != nullptr) {
            Notice notice{box->windowTitle(),
                          box->text(),
                          {},
                          !box->iconPixmap().isNull(),
                          box->windowModality() == Qt::ApplicationModal};
            for (const QAbstractButton* button : box->buttons()) {
                notice.buttons.append(button->text());
                notice.hasIcon = notice.hasIcon || !button->icon().isNull();
            }
            notices.push_back(notice);
            if (onShown) onShown(*box);
            box->done(QMessageBox::Ok);
        } else if (modal == nullptr) {
            otherModalDeadline.setRemainingTime(kOtherModalTimeoutMs);
        } else if (otherModalDeadline.hasExpired()) {
            ADD_FAILURE() << "a modal window that is no message box stayed open";
            modal->close();
        }
    });
    poll.start(kPollIntervalMs);
    action();
    return notices;
}

}  // namespace velmora::ui::test
