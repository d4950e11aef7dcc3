#pragma once

#include <QLabel>

namespace velmora::ui {

// A label that keeps the designed line inside its rectangle. The designs'
// labels are as tall as a line of a Windows face such as SimSun, whose line
// is its em box; the CJK faces that stand in here reserve a taller line, so
// the bottom of the glyphs would be cut. When the text's lines overflow the
// label, they are lifted by the empty room above the glyphs' ink, never by
// more than the overflow and never past the label's top.
class DesignLabel : public QLabel {
    Q_OBJECT

  public:
    explicit DesignLabel(const QString& text, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// Exposes `label` to screen readers as a status bar named by its text; its
// text changes keep raising name-change events. Nothing visible changes.
// Call it before the label is first shown.
void exposeAsStatusBar(QLabel& label);

}  // namespace velmora::ui
