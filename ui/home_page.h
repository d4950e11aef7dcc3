#pragma once

namespace velmora::ui {

inline constexpr const char* kHomePageUrl = "http://www.telvaro.example";

// Hands the maker's home page to the desktop's default browser. Whether the
// desktop manages it is not examined: the desktop reports its own failures.
void openHomePage();

}  // namespace velmora::ui
