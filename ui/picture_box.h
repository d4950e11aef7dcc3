#pragma once

#include <QFrame>
#include <QPixmap>

namespace velmora::ui {

// A fixed-size box that shows its picture at natural size from the top-left
// corner of its inner area, clipped, never scaled, and reports clicks.
class PictureBox : public QFrame {
    Q_OBJECT

  public:
    explicit PictureBox(QWidget* parent = nullptr);

    void setPicture(const QPixmap& picture);
    const QPixmap& picture() const { return picture_; }

  signals:
    // The left button went down and came up again over the box.
    void clicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QPixmap picture_;
    bool pressed_ = false;
};

}  // namespace velmora::ui
