#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::ui {

// Window designs are kept in twips, the unit the layouts were drawn in. At
// 96 dpi a pixel is 15 twips; Qt's device-independent pixels take care of
// screens with other densities.
inline constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips) { return twips / kTwipsPerPixel; }

struct Rgb {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};

// A family list, most wanted first: the face the layout was drawn with, then
// the nearest installed faces of the same style, so that Chinese text never
// falls back to a face without Chinese glyphs.
struct FontSpec {
    std::vector<std::string> families;
    int pointSize = 9;
    bool bold = false;
};

enum class ControlKind {
    Frame,  // group box used as a separator
    PushButton,
    PictureBox,
    TextBox,          // single line
    Label,            // drawn on the window's surface, never above another control
    PlayerComponent,  // holds the media player; never visible
};

namespace control_flag {
inline constexpr unsigned kNone = 0;
inline constexpr unsigned kDisabled = 1U << 0;
inline constexpr unsigned kHidden = 1U << 1;
inline constexpr unsigned kSunkenBorder = 1U << 2;  // picture boxes only
inline constexpr unsigned kTakesFocus = 1U << 3;    // picture boxes only
}  // namespace control_flag

struct TwipRect {
    int left;
    int top;
    int width;
    int height;
};

struct ControlSpec {
    std::string name;
    ControlKind kind;
    std::string text;  // caption, initial text, or a picture's resource path
    TwipRect rect;
    std::optional<FontSpec> font;   // else the window's font
    std::optional<Rgb> foreground;  // else the toolkit's colour for the kind
    std::optional<Rgb> background;
    unsigned flags = control_flag::kNone;
    int tabIndex = 0;
};

enum class WindowIcon {
    Application,  // the application's icon set
    None,         // explicitly empty: the window shows no icon of its own
};

struct WindowSpec {
    std::string name;
    std::string title;
    int clientWidthTwips;
    int clientHeightTwips;
    std::optional<Rgb> background;  // else the toolkit's face colour
    FontSpec font;                  // for controls without a font of their own
    WindowIcon icon;
};

// Controls are listed in creation order; stacking follows from it.
struct WindowDesign {
    WindowSpec window;
    std::vector<ControlSpec> controls;
};

}  // namespace velmora::ui
