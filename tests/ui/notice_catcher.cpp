#include "notice_catcher.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace velmora::ui::test {
namespace {

constexpr int kPollIntervalMs = 5;
constexpr int kOtherModalTimeoutMs = 5000;
constexpr int kAllAnsweredTimeoutMs = 2 * kOtherModalTimeoutMs;

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
    // The boxes the action opened outlive it; each is answered from the event loop.
    EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; },
                                kAllAnsweredTimeoutMs))
        << "a modal window is still open";
    return notices;
}

}  // namespace velmora::ui::test
