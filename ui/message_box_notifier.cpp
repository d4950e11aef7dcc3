#include "message_box_notifier.h"

#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

namespace velmora::ui {

MessageBoxNotifier::~MessageBoxNotifier() {
    waiting_.clear();
    delete shown_.data();
}

void MessageBoxNotifier::showNotice(const std::string& caption, const std::string& text) {
    if (hasOwner_ && (owner_.isNull() || !owner_->isVisible())) {
        return;
    }
    waiting_.emplace_back(caption, text);
    if (shown_.isNull()) {
        showNext();
    }
}

void MessageBoxNotifier::dismissAll() {
    // Emptied first: closing the box would otherwise show the next one.
    waiting_.clear();
    if (!shown_.isNull()) {
        shown_->close();
    }
}

void MessageBoxNotifier::showNext() {
    if (waiting_.empty()) {
        return;
    }
    const auto [caption, text] = std::move(waiting_.front());
    waiting_.pop_front();

    auto* box = new QMessageBox(owner_.data());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QString::fromStdString(caption));
    box->setTextFormat(Qt::PlainText);
    box->setText(QString::fromStdString(text));
    box->setIcon(QMessageBox::NoIcon);
    box->setStandardButtons(QMessageBox::Ok);
    // Some styles decorate standard buttons; a notice's OK is a plain caption.
    box->button(QMessageBox::Ok)->setIcon(QIcon());
    // Blocks every window of the program, as a notice of the original platform
    // does. show(), not open(): open() would make the box modal to its window
    // only.
    box->setWindowModality(Qt::ApplicationModal);
    QObject::connect(box, &QDialog::finished, box, [this] {
        shown_.clear();
        showNext();
    });
    shown_ = box;
    box->show();
}

}  // namespace velmora::ui
