#include "engine/texts/stream_title.h"

namespace velmora::engine {
namespace {

// The length of the UTF-8 sequence starting at text[i], or 0 when it is not a
// well-formed one (overlong forms and surrogates included); decoded is set to
// the character it encodes when given.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i,
                               unsigned int* decoded = nullptr) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    unsigned int minimum = 0;
    unsigned int codePoint = 0;
    if (lead < 0x80) {
        if (decoded != nullptr) {
            *decoded = lead;
        }
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return 0;
    }
    if (decoded != nullptr) {
        *decoded = codePoint;
    }
    return length;
}

bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8SequenceLength(text, i);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string latin1ToUtf8(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

// Characters that change the direction of the text around them: a title
// holding one could reverse the rest of the status line.
bool isDirectionalFormatting(unsigned int codePoint) {
    return (codePoint >= 0x202A && codePoint <= 0x202E) ||
           (codePoint >= 0x2066 && codePoint <= 0x2069);
}

}  // namespace

std::string streamTitleText(std::string_view bytes) {
    const std::string text = isUtf8(bytes) ? std::string(bytes) : latin1ToUtf8(bytes);
    std::string clean;
    std::size_t kept = 0;
    bool cut = false;
    for (std::size_t i = 0; i < text.size();) {
        unsigned int codePoint = 0;
        const std::size_t length = utf8SequenceLength(text, i, &codePoint);
        const bool control = codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
        if (!control && !isDirectionalFormatting(codePoint) && !(kept == 0 && codePoint == ' ')) {
            if (kept == kMaxTitleCharacters) {
                cut = true;
                break;
            }
            clean.append(text, i, length);
            ++kept;
        }
        i += length;
    }
    clean.erase(clean.find_last_not_of(' ') + 1);
    if (cut) {
        clean += "\xE2\x80\xA6";  // …
    }
    return clean;
}

}  // namespace velmora::engine
