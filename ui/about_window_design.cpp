#include "about_window_design.h"

#include "design_fonts.h"
#include "design_resources.h"

namespace velmora::ui {

WindowDesign aboutWindowDesign() {
    using enum ControlKind;
    using namespace control_flag;
    return {
        .window = {.name = "Form2",
                   .title = "关于。。",
                   .clientWidthTwips = 4560,
                   .clientHeightTwips = 1830,
                   .background = {},
                   .font = userInterfaceFont(),
                   .icon = WindowIcon::None},
        .controls =
            {
                {"Picture1",
                 PictureBox,
                 kBannerResource,
                 {0, 1560, 4575, 255},
                 {},
                 {},
                 {},
                 kSunkenBorder | kTakesFocus,
                 0},
                {"Label1",
                 Label,
                 "         一个可以播放网络音乐的小软件       ",
                 {120, 240, 4455, 375},
                 {},
                 {},
                 {},
                 kNone,
                 1},
                {"Label2",
                 Label,
                 "               作者 ：Telvaro",
                 {240, 600, 4335, 375},
                 {},
                 {},
                 {},
                 kNone,
                 2},
                {"Label3",
                 Label,
                 "telvaro@telvaro.example           2012/8/1",
                 {480, 1080, 3975, 375},
                 {},
                 {},
                 {},
                 kNone,
                 3},
            },
    };
}

}  // namespace velmora::ui
