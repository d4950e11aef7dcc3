#include "engine/texts/stream_title.h"

#include <glib.h>

#include "engine/texts/unknown_text.h"

namespace velmora::engine {
namespace {

// Characters that change the direction of the text around them: a title
// holding one could reverse the rest of the status line.
bool isDirectionalFormatting(gunichar character) {
    return (character >= 0x202A && character <= 0x202E) ||
           (character >= 0x2066 && character <= 0x2069);
}

}  // namespace

std::string streamTitleText(std::string_view bytes) {
    const std::string text = decodeUnknownText(bytes);
    std::string clean;
    std::size_t kept = 0;
    bool cut = false;
    const char* const end = text.data() + text.size();
    for (const char* at = text.data(); at < end; at = g_utf8_next_char(at)) {
        const gunichar character = g_utf8_get_char(at);
        if (g_unichar_iscntrl(character) || isDirectionalFormatting(character) ||
            (kept == 0 && character == ' ')) {
            continue;
        }
        if (kept == kMaxTitleCharacters) {
            cut = true;
            break;
        }
        clean.append(at, static_cast<std::size_t>(g_utf8_next_char(at) - at));
        ++kept;
    }
    clean.erase(clean.find_last_not_of(' ') + 1);
    if (cut) {
        clean += "\xE2\x80\xA6";  // …
    }
    return clean;
}

}  // namespace velmora::engine
