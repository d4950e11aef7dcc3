#pragma once

#include <string_view>

#include "transport_rules.h"
#include "window_surface.h"

namespace velmora::playback {

inline constexpr std::string_view kExampleUrl = "http://www.telvaro.example/telvarocom/bgmusic.mp3";
// Built from the example so that the box's initial text and the text the
// click rule compares against can never drift apart.
inline constexpr std::string_view kUrlPromptLead = "请在此输入网络音乐URL  例如：";
std::string urlPrompt();

inline constexpr int kEnterKey = 13;

// The URL box's click and key-press rules.
class UrlBoxRules {
  public:
    UrlBoxRules(UrlBox& box, TransportRules& transport) : box_(box), transport_(transport) {}

    // Replaces the untouched prompt by the example URL; otherwise does nothing.
    void click();
    // Returns the character code to pass on: 0 when the key was consumed.
    int keyPress(int charCode);

  private:
    UrlBox& box_;
    TransportRules& transport_;
};

}  // namespace velmora::playback
