#include "url_box_rules.h"

#include <string>

namespace velmora::playback {

std::string urlPrompt() { return std::string(kUrlPromptLead) + std::string(kExampleUrl); }

void UrlBoxRules::click() {
    if (box_.text() == urlPrompt()) {
        box_.setText(std::string(kExampleUrl));
    }
}

int UrlBoxRules::keyPress(int charCode) {
    if (charCode == kEnterKey) {
        // Consumed: Enter must neither reach the box nor make the system beep.
        charCode = 0;
        transport_.putUrl(box_.text());
    }
    transport_.applyStartedSet();
    return charCode;
}

}  // namespace velmora::playback
