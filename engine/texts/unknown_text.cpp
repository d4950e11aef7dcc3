#include "engine/texts/unknown_text.h"

#include <glib.h>
#include <uchardet.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>

#include "engine/texts/charset_readings.h"

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

// What Windows-1252 puts at 0x80-0x9F, where Latin-1 has control codes.
// GStreamer reads a title that is not UTF-8 as Windows-1252 when every byte
// is defined there, and as Latin-1 otherwise.
constexpr gunichar kWindows1252High[32] = {
    0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

std::optional<char> westernByte(gunichar character) {
    if (character <= 0xFF) {
        return static_cast<char>(character);
    }
    const gunichar* const end = std::end(kWindows1252High);
    const gunichar* const found = std::find(std::begin(kWindows1252High), end, character);
    if (found == end) {
        return std::nullopt;
    }
    return static_cast<char>(0x80 + (found - std::begin(kWindows1252High)));
}

// The bytes a Latin-1 or Windows-1252 reading came from, when it may be one:
// every character one of theirs, and at least one beyond ASCII.
std::optional<std::string> latin1Bytes(std::string_view utf8) {
    std::string bytes;
    bool beyondAscii = false;
    const char* const end = utf8.data() + utf8.size();
    for (const char* at = utf8.data(); at < end; at = g_utf8_next_char(at)) {
        const gunichar character = g_utf8_get_char(at);
        const std::optional<char> byte = westernByte(character);
        if (!byte) {
            return std::nullopt;
        }
        beyondAscii = beyondAscii || character > 0x7F;
        bytes.push_back(*byte);
    }
    if (!beyondAscii) {
        return std::nullopt;
    }
    return bytes;
}

std::string fromLatin1(std::string_view bytes) {
    std::string out;
    for (const char byte : bytes) {
        char utf8[6] = {};
        out.append(utf8, static_cast<std::size_t>(
                             g_unichar_to_utf8(static_cast<unsigned char>(byte), utf8)));
    }
    return out;
}

struct UchardetDelete {
    void operator()(uchardet_t detector) const { uchardet_delete(detector); }
};

std::string uchardetGuess(std::string_view bytes) {
    const std::unique_ptr<std::remove_pointer_t<uchardet_t>, UchardetDelete> detector(
        uchardet_new());
    if (uchardet_handle_data(detector.get(), bytes.data(), bytes.size()) != 0) {
        return {};
    }
    uchardet_data_end(detector.get());
    std::string guess = uchardet_get_charset(detector.get());
    std::transform(guess.begin(), guess.end(), guess.begin(),
                   [](char c) { return g_ascii_toupper(c); });
    return guess;
}

using charsets::Charset;

struct Candidate {
    Charset charset;
    double preference;  // added to a reading's share of everyday letters
};

// GBK and GB2312 titles read as GB18030, a superset of both. Windows-1251 is
// the Cyrillic code page stations use today: KOI8 has to read clearly better.
constexpr Candidate kCandidates[] = {{Charset::Gb18030, 0.0},
                                     {Charset::Big5, 0.0},
                                     {Charset::Cp932, 0.0},
                                     {Charset::Windows1251, 0.3},
                                     {Charset::Koi8, 0.0}};
// A share of everyday characters above which Chinese needs no second opinion.
constexpr double kPlainChineseShare = 0.5;
// What uchardet's agreement adds to a reading's share of everyday letters.
constexpr double kDetectorWeight = 0.25;
// What ideographs lose when every byte beyond ASCII is 0xC0-0xDF.
constexpr double kCyrillicRangeWeight = 1.0;

// Capitals in Windows-1251 and small letters in KOI8 are the bytes 0xC0-0xDF,
// which pair up into everyday GB2312 ideographs; Chinese text seldom keeps to
// them for long, a Russian title in capitals always does.
bool onlyCyrillicLetterBytes(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char byte) {
        const auto value = static_cast<unsigned char>(byte);
        return value < 0x80 || (value >= 0xC0 && value <= 0xDF);
    });
}

std::string decodeBytes(std::string_view bytes) {
    const std::string western = convertStrictly(bytes, "WINDOWS-1252").value_or(fromLatin1(bytes));
    if (charsets::readsAsWestern(western)) {
        return western;
    }
    // Korean before Chinese: EUC-KR's syllables are GB2312's everyday ideographs.
    if (std::optional<std::string> korean = convertStrictly(bytes, "CP949");
        korean && charsets::readsAsKorean(*korean)) {
        return *korean;
    }
    const bool cyrillicRange = onlyCyrillicLetterBytes(bytes);
    std::optional<std::string> chinese = convertStrictly(bytes, iconvName(Charset::Gb18030));
    if (chinese && !cyrillicRange &&
        charsets::readAs(*chinese, Charset::Gb18030).commonShare > kPlainChineseShare) {
        return *chinese;
    }
    const std::string guess = uchardetGuess(bytes);
    std::optional<std::string> best;
    double bestScore = 0;
    for (const Candidate& candidate : kCandidates) {
        const Charset charset = candidate.charset;
        std::optional<std::string> text = charset == Charset::Gb18030
                                              ? std::move(chinese)
                                              : convertStrictly(bytes, iconvName(charset));
        if (!text) {
            continue;
        }
        const bool cyrillic = charset == Charset::Windows1251 || charset == Charset::Koi8;
        const charsets::Reading reading = charsets::readAs(*text, charset);
        const double score = reading.commonShare + candidate.preference +
                             (isDetectorName(charset, guess) ? kDetectorWeight : 0.0) -
                             (cyrillicRange && !cyrillic ? kCyrillicRangeWeight : 0.0);
        // Not impossible is not enough: some of it has to be everyday text.
        if (reading.plausible && reading.commonShare > 0 && (!best || score > bestScore)) {
            best = std::move(text);
            bestScore = score;
        }
    }
    return best.value_or(western);
}

}  // namespace

std::optional<std::string> convertStrictly(std::string_view bytes, const char* charset) {
    gsize read = 0;
    gsize written = 0;
    g_autofree gchar* utf8 = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8",
                                       charset, &read, &written, nullptr);
    if (utf8 == nullptr || read != bytes.size()) {
        return std::nullopt;
    }
    return std::string(utf8, written);
}

std::string decodeUnknownText(std::string_view bytes) {
    if (!isUtf8(bytes)) {
        return decodeBytes(bytes);
    }
    const std::optional<std::string> original = latin1Bytes(bytes);
    if (!original) {
        return std::string(bytes);
    }
    // UTF-8 read as Latin-1 and sent again as UTF-8, as some servers do.
    if (isUtf8(*original)) {
        return *original;
    }
    return decodeBytes(*original);
}

}  // namespace velmora::engine
