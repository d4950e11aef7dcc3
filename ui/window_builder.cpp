#include "window_builder.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>

#include "application_icon.h"
#include "design_label.h"
#include "picture_box.h"
#include "player_host.h"

namespace velmora::ui {
namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

QColor toColor(Rgb rgb) { return {rgb.red, rgb.green, rgb.blue}; }

QRect toPixels(const TwipRect& rect) {
    return {twipsToPixels(rect.left), twipsToPixels(rect.top), twipsToPixels(rect.width),
            twipsToPixels(rect.height)};
}

bool has(const ControlSpec& row, unsigned flag) { return (row.flags & flag) != 0; }

void paintBackground(QWidget& widget, Rgb rgb) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, toColor(rgb));
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

void paintForeground(QWidget& widget, Rgb rgb) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, toColor(rgb));
    palette.setColor(QPalette::Text, toColor(rgb));
    palette.setColor(QPalette::ButtonText, toColor(rgb));
    widget.setPalette(palette);
}

QWidget* makeLabel(const ControlSpec& row) {
    auto* label = new DesignLabel(qs(row.text));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    label->setMargin(0);
    return label;
}

QWidget* makePictureBox(const ControlSpec& row) {
    auto* box = new PictureBox;
    box->setPicture(QPixmap(qs(row.text)));
    if (has(row, control_flag::kSunkenBorder)) {
        box->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    }
    box->setFocusPolicy(has(row, control_flag::kTakesFocus) ? Qt::StrongFocus : Qt::NoFocus);
    return box;
}

QWidget* makePushButton(const ControlSpec& row) {
    auto* button = new QPushButton(qs(row.text));
    // Enter and Escape belong to the URL box's key rule, never to a button.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QWidget* makeTextBox(const ControlSpec& row) {
    auto* box = new QLineEdit(qs(row.text));
    // A long initial text shows its beginning, not its end.
    box->setCursorPosition(0);
    return box;
}

QWidget* makeControl(const ControlSpec& row) {
    switch (row.kind) {
        case ControlKind::Frame:
            return new QGroupBox(qs(row.text));
        case ControlKind::PushButton:
            return makePushButton(row);
        case ControlKind::PictureBox:
            return makePictureBox(row);
        case ControlKind::TextBox:
            return makeTextBox(row);
        case ControlKind::Label:
            return makeLabel(row);
        case ControlKind::PlayerComponent:
            return new PlayerHost;
    }
    throw std::invalid_argument("unknown control kind for " + row.name);
}

bool isWindowed(ControlKind kind) { return kind != ControlKind::Label; }

void applyWindowProperties(QWidget& window, const WindowSpec& row) {
    window.setObjectName(qs(row.name));
    window.setWindowTitle(qs(row.title));
    window.setFont(toFont(row.font));
    switch (row.icon) {
        case WindowIcon::Application:
            window.setWindowIcon(applicationIcon());
            break;
        case WindowIcon::None:
            window.setWindowIcon(QIcon());
            break;
    }
}

// A main window's menu bar sits above the client area, so it adds to the
// window's height.
int heightAboveClientArea(QWidget& window) {
    auto* mainWindow = qobject_cast<QMainWindow*>(&window);
    if (mainWindow == nullptr || mainWindow->menuWidget() == nullptr) {
        return 0;
    }
    return mainWindow->menuWidget()->sizeHint().height();
}

}  // namespace

QWidget* BuiltControls::get(const QString& name) const {
    const auto found = controls_.constFind(name);
    if (found == controls_.constEnd()) {
        throw std::out_of_range("the window has no control named " + name.toStdString());
    }
    return found.value();
}

void BuiltControls::throwWrongKind(const QString& name) {
    throw std::logic_error("control " + name.toStdString() + " is not of the kind asked for");
}

QFont toFont(const FontSpec& row) {
    QStringList families;
    for (const std::string& family : row.families) {
        families.append(qs(family));
    }
    QFont font;
    font.setFamilies(families);
    font.setPointSize(row.pointSize);
    font.setBold(row.bold);
    return font;
}

BuiltControls buildWindow(QWidget& window, QWidget& clientArea, const WindowDesign& design) {
    applyWindowProperties(window, design.window);
    if (design.window.background) {
        paintBackground(clientArea, *design.window.background);
    }

    BuiltControls built;
    std::vector<std::pair<const ControlSpec*, QWidget*>> created;
    for (const ControlSpec& row : design.controls) {
        QWidget* control = makeControl(row);
        control->setParent(&clientArea);
        control->setObjectName(qs(row.name));
        control->setGeometry(toPixels(row.rect));
        if (row.font) {
            control->setFont(toFont(*row.font));
        }
        if (row.background) {
            paintBackground(*control, *row.background);
        }
        if (row.foreground) {
            paintForeground(*control, *row.foreground);
        }
        control->setEnabled(!has(row, control_flag::kDisabled));
        control->setVisible(!has(row, control_flag::kHidden));
        built.add(control->objectName(), control);
        created.emplace_back(&row, control);
    }

    for (auto it = created.rbegin(); it != created.rend(); ++it) {
        if (isWindowed(it->first->kind)) {
            it->second->raise();
        }
    }

    std::stable_sort(created.begin(), created.end(), [](const auto& a, const auto& b) {
        return a.first->tabIndex < b.first->tabIndex;
    });
    for (std::size_t i = 1; i < created.size(); ++i) {
        QWidget::setTabOrder(created[i - 1].second, created[i].second);
    }

    window.resize(twipsToPixels(design.window.clientWidthTwips),
                  twipsToPixels(design.window.clientHeightTwips) + heightAboveClientArea(window));
    return built;
}

}  // namespace velmora::ui
