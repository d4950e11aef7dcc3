#pragma once

#include <string>
#include <string_view>

// The status line of every state that is not a failure (failures have their
// texts next to their kinds). Short Simplified Chinese, UTF-8.
namespace velmora::engine::status_text {

std::string connecting(std::string_view host);  // empty host: a local file
std::string buffering(int percent);
std::string playing(std::string_view title);  // empty title: no title known
std::string paused();
std::string stopped();
std::string ended();
std::string reconnecting(int attempt);  // attempt counts from 1
std::string outputGone();               // the sound server went away; the stream waits for it

}  // namespace velmora::engine::status_text
