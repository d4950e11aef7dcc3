#include "message_box_notifier.h"

#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

namespace velmora::ui {

void MessageBoxNotifier::showNotice(const std::string& caption, const std::string& text) {
    QMessageBox box(owner_.data());
    box.setWindowTitle(QString::fromStdString(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text));
    box.setIcon(QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    // Some styles decorate standard buttons; a notice's OK is a plain caption.
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    // Blocks every window of the program, as a notice of the original platform
    // does, so no window can be closed under a handler that waits here.
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

}  // namespace velmora::ui
