#pragma once

#include <string>

#include "window_design.h"

namespace velmora::ui {

// The layouts name Windows faces that Linux desktops rarely have; each list
// keeps that name first and then falls back to the installed face of the same
// style. Fontconfig would otherwise substitute a face without Chinese glyphs.

// Song (serif) style, bold, as the designs use it.
FontSpec songFont(const std::string& originalFace, int pointSize);
// Hei (sans-serif) style, bold, as the designs use it.
FontSpec heiFont(const std::string& originalFace, int pointSize);
// What controls without a font of their own show: the desktop's Chinese
// user-interface face at its usual size.
FontSpec userInterfaceFont();

}  // namespace velmora::ui
