#include "main_window_design.h"

#include "design_fonts.h"
#include "design_resources.h"
#include "playback/url_box_rules.h"

namespace velmora::ui {
namespace {

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kDarkBlue{0, 0, 192};

}  // namespace

WindowDesign mainWindowDesign() {
    using enum ControlKind;
    using namespace control_flag;
    const FontSpec newSong12 = songFont("新宋体", 12);
    const FontSpec song12 = songFont("宋体", 12);
    const FontSpec yaHei12 = heiFont("微软雅黑", 12);
    const FontSpec yaHei9 = heiFont("微软雅黑", 9);

    return {
        .window = {.name = "Form1",
                   .title = "Velmora网络音乐播放器BY TELVARO",
                   .clientWidthTwips = 7950,
                   .clientHeightTwips = 4080,
                   .background = kWhite,
                   .font = userInterfaceFont(),
                   .icon = WindowIcon::Application},
        .controls =
            {
                {"Frame1", Frame, "", {120, 2400, 7575, 135}, {}, {}, kWhite, kNone, 11},
                {"Command3",
                 PushButton,
                 "停止",
                 {2160, 1320, 735, 375},
                 newSong12,
                 {},
                 {},
                 kDisabled,
                 10},
                {"Command2",
                 PushButton,
                 "继续",
                 {1200, 1320, 855, 375},
                 newSong12,
                 {},
                 {},
                 kDisabled,
                 9},
                {"C2", PushButton, "暂停", {240, 1320, 855, 375}, newSong12, {}, {}, kDisabled, 8},
                {"Picture1",
                 PictureBox,
                 kBannerResource,
                 {1440, 3480, 4575, 375},
                 {},
                 {},
                 kWhite,
                 kNone,
                 6},
                {"Command1", PushButton, "播放", {7320, 600, 615, 495}, {}, {}, {}, kNone, 2},
                {"Text1",
                 TextBox,
                 playback::urlPrompt(),
                 {1680, 720, 5655, 375},
                 {},
                 {},
                 {},
                 kNone,
                 1},
                {"Label2",
                 Label,
                 "    准备就绪",
                 {0, 1920, 7095, 375},
                 yaHei12,
                 kDarkBlue,
                 kWhite,
                 kNone,
                 7},
                {"Label4",
                 Label,
                 "注：请确保已经连接至网络并且网络音乐URL地址正确！（务必确保地址可以直接下载而不是"
                 "跳转，"
                 "若缓冲时间过长请更换URL）",
                 {0, 2880, 7935, 1095},
                 yaHei9,
                 kRed,
                 kWhite,
                 kNone,
                 5},
                {"Label3",
                 Label,
                 "网络音乐地址：",
                 {0, 720, 1815, 375},
                 yaHei12,
                 {},
                 kWhite,
                 kNone,
                 4},
                {"Label1",
                 Label,
                 "                   Velmora网络音乐播放器",
                 {0, 120, 6135, 255},
                 song12,
                 kBlack,
                 kWhite,
                 kNone,
                 3},
                {"WindowsMediaPlayer1",
                 PlayerComponent,
                 "",
                 {120, 2640, 7575, 1215},
                 {},
                 {},
                 {},
                 kHidden,
                 0},
            },
    };
}

}  // namespace velmora::ui
