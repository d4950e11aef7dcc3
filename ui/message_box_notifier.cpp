#include "message_box_notifier.h"

#include <QMessageBox>

namespace velmora::ui {

void MessageBoxNotifier::showNotice(const std::string& caption, const std::string& text) {
    QMessageBox box(owner_.data());
    box.setWindowTitle(QString::fromStdString(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text));
    box.setIcon(QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    // Blocks every window of the program, as a notice of the original platform
    // does, so no window can be closed under a handler that waits here.
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

}  // namespace velmora::ui
