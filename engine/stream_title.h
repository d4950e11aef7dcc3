#pragma once

#include <string>
#include <string_view>

namespace velmora::engine {

// A stream title fit for the status line: the bytes as UTF-8 when they are
// valid UTF-8, otherwise read as Latin-1 (what old radio servers send);
// control characters dropped, surrounding spaces trimmed.
std::string streamTitleText(std::string_view bytes);

}  // namespace velmora::engine
