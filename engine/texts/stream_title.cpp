#include "engine/texts/stream_title.h"

#include <glib.h>

namespace velmora::engine {
namespace {

// g_utf8_validate stops at a NUL byte; the pieces between them are judged.
bool isUtf8(std::string_view text) {
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('\0', start), text.size());
        if (!g_utf8_validate(text.data() + start, static_cast<gssize>(end - start), nullptr)) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

void appendCharacter(std::string& out, gunichar character) {
    char utf8[6] = {};
    out.append(utf8, static_cast<std::size_t>(g_unichar_to_utf8(character, utf8)));
}

// Characters that change the direction of the text around them: a title
// holding one could reverse the rest of the status line.
bool isDirectionalFormatting(gunichar character) {
    return (character >= 0x202A && character <= 0x202E) ||
           (character >= 0x2066 && character <= 0x2069);
}

}  // namespace

std::string utf8OrLatin1(std::string_view bytes) {
    if (isUtf8(bytes)) {
        return std::string(bytes);
    }
    std::string out;
    out.reserve(2 * bytes.size());
    for (const char byte : bytes) {
        appendCharacter(out, static_cast<unsigned char>(byte));  // Latin-1 is Unicode's first 256
    }
    return out;
}

std::string streamTitleText(std::string_view bytes) {
    const std::string text = utf8OrLatin1(bytes);
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
