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

bool has(const ControlSpec& spec, unsigned flag) { return (spec.flags & flag) != 0; }

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

QWidget* makeLabel(const ControlSpec& spec) {
    auto* label = new QLabel(qs(spec.text));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    label->setMargin(0);
    return label;
}

QWidget* makePictureBox(const ControlSpec& spec) {
    auto* box = new PictureBox;
    box->setPicture(QPixmap(qs(spec.text)));
    if (has(spec, control_flag::kSunkenBorder)) {
        box->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    }
    box->setFocusPolicy(has(spec, control_flag::kTakesFocus) ? Qt::StrongFocus : Qt::NoFocus);
    return box;
}

QWidget* makePushButton(const ControlSpec& spec) {
    auto* button = new QPushButton(qs(spec.text));
    // Enter and Escape belong to the URL box's key rule, never to a button.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QWidget* makeTextBox(const ControlSpec& spec) {
    auto* box = new QLineEdit(qs(spec.text));
    // A long initial text shows its beginning, not its end.
    box->setCursorPosition(0);
    return box;
}

QWidget* makeControl(const ControlSpec& spec) {
    switch (spec.kind) {
        case ControlKind::Frame:
            return new QGroupBox(qs(spec.text));
        case ControlKind::PushButton:
            return makePushButton(spec);
        case ControlKind::PictureBox:
            return makePictureBox(spec);
        case ControlKind::TextBox:
            return makeTextBox(spec);
        case ControlKind::Label:
            return makeLabel(spec);
        case ControlKind::PlayerComponent:
            return new PlayerHost;
    }
    throw std::invalid_argument("unknown control kind for " + spec.name);
}

bool isWindowed(ControlKind kind) { return kind != ControlKind::Label; }

void applyWindowProperties(QWidget& window, const WindowSpec& spec) {
    window.setObjectName(qs(spec.name));
    window.setWindowTitle(qs(spec.title));
    window.setFont(toFont(spec.font));
    switch (spec.icon) {
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

QFont toFont(const FontSpec& spec) {
    QStringList families;
    for (const std::string& family : spec.families) {
        families.append(qs(family));
    }
    QFont font;
    font.setFamilies(families);
    font.setPointSize(spec.pointSize);
    font.setBold(spec.bold);
    return font;
}

BuiltControls buildWindow(QWidget& window, QWidget& clientArea, const WindowDesign& design) {
    applyWindowProperties(window, design.window);
    if (design.window.background) {
        paintBackground(clientArea, *design.window.background);
    }

    BuiltControls built;
    std::vector<std::pair<const ControlSpec*, QWidget*>> created;
    for (const ControlSpec& spec : design.controls) {
        QWidget* control = makeControl(spec);
        control->setParent(&clientArea);
        control->setObjectName(qs(spec.name));
        control->setGeometry(toPixels(spec.rect));
        if (spec.font) {
            control->setFont(toFont(*spec.font));
        }
        if (spec.background) {
            paintBackground(*control, *spec.background);
        }
        if (spec.foreground) {
            paintForeground(*control, *spec.foreground);
        }
        control->setEnabled(!has(spec, control_flag::kDisabled));
        control->setVisible(!has(spec, control_flag::kHidden));
        built.add(control->objectName(), control);
        created.emplace_back(&spec, control);
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
