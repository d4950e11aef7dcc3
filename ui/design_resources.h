#pragma once

namespace velmora::ui {

// Images compiled into the program from assets/.
inline constexpr const char* kBannerResource = ":/velmora/banner.jpg";
inline constexpr const char* kIconResourcePattern = ":/velmora/icons/velmora-%1.png";
inline constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

}  // namespace velmora::ui
