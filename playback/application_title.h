#pragma once

#include <string_view>

namespace velmora {

// The caption of every message box that has no title of its own.
inline constexpr std::string_view kApplicationTitle = "velmora";

}  // namespace velmora
