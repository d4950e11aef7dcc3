#include "design_label.h"

#include <algorithm>
#include <cmath>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>

namespace velmora::ui {
namespace {

constexpr char kStatusBarProperty[] = "velmoraStatusBar";

class StatusBarAccessible : public QAccessibleWidget {
  public:
    explicit StatusBarAccessible(QLabel* label)
        : QAccessibleWidget(label, QAccessible::StatusBar) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name) {
            return static_cast<const QLabel*>(widget())->text();
        }
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface* statusBarFactory(const QString&, QObject* object) {
    auto* label = qobject_cast<QLabel*>(object);
    if (label != nullptr && label->property(kStatusBarProperty).toBool()) {
        return new StatusBarAccessible(label);
    }
    return nullptr;
}

}  // namespace

DesignLabel::DesignLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

void DesignLabel::paintEvent(QPaintEvent* event) {
    const QRect box = contentsRect();
    const int flags = static_cast<int>(alignment()) | (wordWrap() ? Qt::TextWordWrap : 0);
    const QFontMetricsF metrics(font());
    const qreal overflow = metrics.boundingRect(QRectF(box), flags, text()).height() - box.height();
    const QRectF ink = metrics.tightBoundingRect(text());
    if (overflow <= 0 || ink.isEmpty()) {
        QLabel::paintEvent(event);
        return;
    }
    // Centre the ink in what the label has to spare, as far as the lift allows.
    const qreal roomAboveInk = metrics.ascent() + ink.top();
    const qreal spare = std::max<qreal>(0, box.height() - ink.height());
    const int lift =
        static_cast<int>(std::lround(std::clamp(roomAboveInk - spare / 2, qreal(0), overflow)));
    QPainter painter(this);
    style()->drawItemText(&painter, box.adjusted(0, -lift, 0, 0), flags, palette(), isEnabled(),
                          text(), foregroundRole());
}

void exposeAsStatusBar(QLabel& label) {
    label.setProperty(kStatusBarProperty, true);
    // Qt keeps one copy of a factory, however many windows ask.
    QAccessible::installFactory(statusBarFactory);
    // Setting the label's text made a plain label's interface already: the
    // next look-up must go through the factory.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(&label);
        made != nullptr && made->role() != QAccessible::StatusBar) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
}

}  // namespace velmora::ui
