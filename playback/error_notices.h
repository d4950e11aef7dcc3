#pragma once

#include <string_view>

#include "window_surface.h"

namespace velmora::playback {

inline constexpr std::string_view kWarningNotice =
    "抱歉，URL地址出现错误，请更换地址！（非本程序错误）";
inline constexpr std::string_view kMediaErrorNotice =
    "抱歉，WindowsMediaPlayer错误，请检查WindowsMediaPlayer是否正常！（非本软件出错）";

// Tells the user of a player problem. Every event shows its own box; nothing
// else changes.
class ErrorNotices {
  public:
    explicit ErrorNotices(Notifier& notifier) : notifier_(notifier) {}
    void warning();
    void mediaError();

  private:
    Notifier& notifier_;
};

}  // namespace velmora::playback
