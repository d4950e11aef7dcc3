#include "engine/texts/status_texts.h"

#include <algorithm>

namespace velmora::engine::status_text {

std::string connecting(std::string_view host) {
    if (host.empty()) {
        return "正在打开文件…";
    }
    return "正在连接 " + std::string(host) + "…";
}

std::string buffering(int percent) {
    return "正在缓冲 " + std::to_string(std::clamp(percent, 0, 100)) + "%";
}

std::string playing(std::string_view title) {
    if (title.empty()) {
        return "正在播放";
    }
    return "正在播放：" + std::string(title);
}

std::string paused() { return "已暂停"; }
std::string stopped() { return "已停止"; }
std::string ended() { return "播放结束"; }

std::string outputGone() { return "音频输出已断开，等待恢复"; }

std::string reconnecting(int attempt) {
    return "连接中断，正在重连（第 " + std::to_string(attempt) + " 次）…";
}

}  // namespace velmora::engine::status_text
