#include "design_fonts.h"

namespace velmora::ui {

FontSpec songFont(const std::string& originalFace, int pointSize) {
    return {{originalFace, "Noto Serif CJK SC", "AR PL UMing CN"}, pointSize, true};
}

FontSpec heiFont(const std::string& originalFace, int pointSize) {
    return {{originalFace, "Noto Sans CJK SC", "WenQuanYi Micro Hei"}, pointSize, true};
}

FontSpec userInterfaceFont() { return {{"Noto Sans CJK SC", "WenQuanYi Micro Hei"}, 9, false}; }

}  // namespace velmora::ui
