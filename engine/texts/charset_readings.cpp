#include "engine/texts/charset_readings.h"

#include <glib.h>

#include <algorithm>
#include <string_view>
#include <vector>

namespace velmora::engine::charsets {
namespace {

// Western words hold at most two accented letters in a row ("öß" in Größe);
// GBK, Big5 and Windows-1251 bytes read as Latin-1 make longer runs.
constexpr std::size_t kLongestAccentRun = 2;

std::vector<gunichar> characters(std::string_view utf8) {
    std::vector<gunichar> out;
    const char* const end = utf8.data() + utf8.size();
    for (const char* at = utf8.data(); at < end; at = g_utf8_next_char(at)) {
        out.push_back(g_utf8_get_char(at));
    }
    return out;
}

bool isAscii(gunichar c) { return c < 0x80; }
bool isAsciiLetter(gunichar c) { return c < 0x80 && g_ascii_isalpha(static_cast<char>(c)); }

bool isWesternLetter(gunichar c) {
    return (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7) || c == 0x160 || c == 0x161 ||
           c == 0x152 || c == 0x153 || c == 0x17D || c == 0x17E || c == 0x178;
}

// Punctuation titles are written with on both sides of Europe.
bool isCommonPunctuation(gunichar c) {
    return c == 0xA0 || c == 0xAB || c == 0xBB || c == 0xB7 || (c >= 0x2013 && c <= 0x2014) ||
           (c >= 0x2018 && c <= 0x201E) || c == 0x2022 || c == 0x2026;
}

// Spanish opens questions and exclamations with these.
bool isInvertedMark(gunichar c) { return c == 0xA1 || c == 0xBF; }

// Signs a Western title may hold, but neither glued to the front of a word
// nor to each other, as when Big5 or GBK bytes are read as Latin-1 ("©P", "°®").
bool isWesternSign(gunichar c) {
    return c == 0xA3 || c == 0xA9 || c == 0xAE || c == 0xB0 || c == 0xB4 || c == 0xAA ||
           c == 0xBA || c == 0xD7 || c == 0x20AC || c == 0x2122;  // × joins collaborations
}

bool isHan(gunichar c) {
    return (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x2FFFF);
}

bool isKana(gunichar c) { return c >= 0x3041 && c <= 0x30FF; }

// CJK and general punctuation, full-width forms, and the stars and notes
// titles are decorated with.
bool isCjkPunctuation(gunichar c) {
    return (c >= 0x3000 && c <= 0x303F) || (c >= 0xFF01 && c <= 0xFF5E) ||
           (c >= 0x2010 && c <= 0x2027) || c == 0xB7 || (c >= 0x2600 && c <= 0x27BF);
}

// Whether the character's bytes in `charset` fall in the charset's level of
// everyday characters.
bool isEverydayHan(gunichar c, Charset charset) {
    char utf8[6] = {};
    const gint length = g_unichar_to_utf8(c, utf8);
    gsize written = 0;
    g_autofree gchar* bytes =
        g_convert(utf8, length, iconvName(charset), "UTF-8", nullptr, &written, nullptr);
    if (bytes == nullptr || written != 2) {
        return false;
    }
    const auto lead = static_cast<unsigned char>(bytes[0]);
    const auto trail = static_cast<unsigned char>(bytes[1]);
    switch (charset) {
        case Charset::Big5:
            return lead >= 0xA4 && lead <= 0xC6;
        case Charset::Cp932:
            return lead >= 0x88 && lead <= 0x98;
        default:
            return lead >= 0xB0 && lead <= 0xD7 && trail >= 0xA1;
    }
}

bool isCyrillicLetter(gunichar c) {
    return (c >= 0x410 && c <= 0x44F) || c == 0x401 || c == 0x451 || c == 0x404 || c == 0x454 ||
           c == 0x406 || c == 0x456 || c == 0x407 || c == 0x457 || c == 0x490 || c == 0x491;
}

// The letters that make up most of Russian and Ukrainian text; a decoding
// in the wrong Cyrillic charset trades them for rare ones.
bool isFrequentCyrillic(gunichar c) {
    static constexpr gunichar kFrequent[] = {0x43E, 0x435, 0x430, 0x438, 0x43D, 0x442,
                                             0x441, 0x440, 0x432, 0x43B, 0x43A, 0x43C,
                                             0x434, 0x43F, 0x443, 0x456, 0x44F, 0x44C};
    const gunichar lower = g_unichar_tolower(c);
    return std::find(std::begin(kFrequent), std::end(kFrequent), lower) != std::end(kFrequent);
}

bool isCyrillicVowel(gunichar c) {
    static constexpr gunichar kVowels[] = {0x430, 0x435, 0x451, 0x438, 0x43E, 0x443, 0x44B,
                                           0x44D, 0x44E, 0x44F, 0x456, 0x457, 0x454};
    const gunichar lower = g_unichar_tolower(c);
    return std::find(std::begin(kVowels), std::end(kVowels), lower) != std::end(kVowels);
}

// The hard and soft signs and ы never begin a word, and the signs never
// follow a vowel.
bool hasCyrillicSpelling(const std::vector<gunichar>& word) {
    const auto isSign = [](gunichar c) {
        const gunichar lower = g_unichar_tolower(c);
        return lower == 0x44A || lower == 0x44C;
    };
    if (isSign(word.front()) || g_unichar_tolower(word.front()) == 0x44B) {
        return false;
    }
    for (std::size_t i = 1; i < word.size(); ++i) {
        if (isSign(word[i]) && isCyrillicVowel(word[i - 1])) {
            return false;
        }
    }
    return true;
}

// A word is all lower case, capitalised, or all upper case.
bool hasWordCase(const std::vector<gunichar>& word) {
    const bool allUpper = std::all_of(word.begin(), word.end(), g_unichar_isupper);
    const bool restLower = std::all_of(word.begin() + 1, word.end(), g_unichar_islower);
    return allUpper || restLower;
}

Reading readAsCjk(std::string_view utf8, Charset charset) {
    const bool japanese = charset == Charset::Cp932;
    const std::vector<gunichar> text = characters(utf8);
    std::size_t letters = 0;
    std::size_t everyday = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const gunichar c = text[i];
        if (isAscii(c) || isCjkPunctuation(c)) {
            continue;
        }
        if (isKana(c) && japanese) {
            ++letters;
            ++everyday;
            continue;
        }
        if (!isHan(c)) {
            return {};
        }
        // An accented letter read with the ASCII letter after it as a rare
        // ideograph leaves that ideograph glued to the rest of a Latin word.
        const bool everydayHan = isEverydayHan(c, charset);
        const bool gluedToLatin = (i > 0 && isAsciiLetter(text[i - 1])) ||
                                  (i + 1 < text.size() && isAsciiLetter(text[i + 1]));
        if (!everydayHan && gluedToLatin) {
            return {};
        }
        ++letters;
        everyday += everydayHan ? 1 : 0;
    }
    if (letters == 0) {
        return {};
    }
    return {true, static_cast<double>(everyday) / static_cast<double>(letters)};
}

Reading readAsCyrillic(std::string_view utf8) {
    const std::vector<gunichar> text = characters(utf8);
    std::size_t letters = 0;
    std::size_t frequent = 0;
    std::vector<gunichar> word;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const gunichar c = i < text.size() ? text[i] : ' ';
        if (g_unichar_isalpha(c)) {
            word.push_back(c);
            continue;
        }
        if (!isAscii(c) && !isCommonPunctuation(c) && c != 0x2116) {  // № is theirs
            return {};
        }
        const auto cyrillic = std::count_if(word.begin(), word.end(), isCyrillicLetter);
        if (cyrillic > 0) {
            if (static_cast<std::size_t>(cyrillic) != word.size() || !hasWordCase(word) ||
                !hasCyrillicSpelling(word)) {
                return {};
            }
            letters += word.size();
            frequent += static_cast<std::size_t>(
                std::count_if(word.begin(), word.end(), isFrequentCyrillic));
        } else if (!std::all_of(word.begin(), word.end(), isAsciiLetter)) {
            return {};
        }
        word.clear();
    }
    if (letters == 0) {
        return {};
    }
    return {true, static_cast<double>(frequent) / static_cast<double>(letters)};
}

bool isHangulSyllable(gunichar c) { return c >= 0xAC00 && c <= 0xD7A3; }

// The syllables that make up most of Korean text (particles, endings, the
// commonest stems): Chinese bytes read as EUC-KR seldom land on them.
constexpr std::u32string_view kFrequentHangul =
    U"이다는의에하고을가지기리서한를사로도어나자수정대아인들시일상전적해그보있것주제부국구게"
    U"성과요만면라우소동장여무내경신원연화세비모학문생미마방발러관실행개회위물선유오중분식저말"
    U"속되했공거조치안야까데니은년없터드음입간진금날명때르크스트파프더또두른래려며뭐바번본불빛"
    U"산새색손순습심알앞약양언얼엄역열영예온외용운울월응임잘점좋죽줄집차참처천초최추친카커코키"
    U"타태토통티편평포표피필할함합항향허현형호홍환활황후희히힘너네노누눈느늘님달당던돌된될둘듯"
    U"등딸땅떠똑뜻랑량력련렇령록론료루류름린림립링맞매머먹먼멀메몇몸못밖반받밤밥배백버벌범법변"
    U"별병복봄봉북뿐살삼석선설섬셨송숙술숨쉬슬승싶써씨악않았애억업었엔였옛옷와완왕왜욕웃워원웠"
    U"육으읽잃잊작잔잡재쟁절젊져족존졸종준즈즐증직질짐짜째쪽찾채책척철첫청체쳐촌총축출춤충취층"
    U"칙칠침큰클탄탈태택털테투특틀파판팔패퍼페펴폭푸품풍플학해험혀협혜혹혼확회효훈휴흐흘흥흰"
    U"단디빠뱅빅";

bool isFrequentHangul(gunichar c) {
    return kFrequentHangul.find(static_cast<char32_t>(c)) != std::u32string_view::npos;
}

}  // namespace

bool readsAsKorean(std::string_view utf8) {
    // Below this share of everyday syllables, the text is taken for Chinese.
    constexpr double kEverydayShare = 0.6;
    std::size_t syllables = 0;
    std::size_t everyday = 0;
    for (const gunichar c : characters(utf8)) {
        if (isHangulSyllable(c)) {
            ++syllables;
            everyday += isFrequentHangul(c) ? 1 : 0;
        } else if (!isAscii(c) && !isCjkPunctuation(c)) {
            return false;
        }
    }
    return syllables > 0 &&
           static_cast<double>(everyday) >= kEverydayShare * static_cast<double>(syllables);
}

const char* iconvName(Charset charset) {
    switch (charset) {
        case Charset::Gb18030:
            return "GB18030";
        case Charset::Big5:
            return "BIG5";
        case Charset::Cp932:
            return "CP932";
        case Charset::Windows1251:
            return "WINDOWS-1251";
        case Charset::Koi8:
            return "KOI8-U";  // KOI8-R's letters and Ukrainian's
    }
    return "";
}

bool isDetectorName(Charset charset, std::string_view name) {
    switch (charset) {
        case Charset::Gb18030:
            return name == "GB18030" || name == "GB2312" || name == "GBK";
        case Charset::Big5:
            return name == "BIG5";
        case Charset::Cp932:
            return name == "SHIFT_JIS" || name == "CP932";
        case Charset::Windows1251:
            return name == "WINDOWS-1251";
        case Charset::Koi8:
            return name == "KOI8-R" || name == "KOI8-U";
    }
    return false;
}

bool readsAsWestern(std::string_view utf8) {
    const std::vector<gunichar> text = characters(utf8);
    std::size_t run = 0;         // non-ASCII characters in a row
    std::size_t wordLength = 0;  // letters in a row
    bool wordHasAscii = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const gunichar c = text[i];
        const bool letter = isAsciiLetter(c) || isWesternLetter(c);
        if (!isAscii(c) && !letter && !isCommonPunctuation(c) && !isWesternSign(c) &&
            !isInvertedMark(c)) {
            return false;
        }
        const gunichar next = i + 1 < text.size() ? text[i + 1] : ' ';
        if (isWesternSign(c) && (g_unichar_isalpha(next) || isWesternSign(next))) {
            return false;
        }
        // A middle dot joins letters (Catalan "l·l"); before a word it is a misread.
        const bool afterLetter = i > 0 && g_unichar_isalpha(text[i - 1]);
        if (c == 0xB7 && !afterLetter && isAsciiLetter(next)) {
            return false;
        }
        run = isAscii(c) ? 0 : run + 1;
        if (run > kLongestAccentRun) {
            return false;
        }
        if (letter) {
            ++wordLength;
            wordHasAscii = wordHasAscii || isAscii(c);
        }
        const bool wordEnds = !letter || i + 1 == text.size();
        if (wordEnds) {
            if (wordLength >= 2 && !wordHasAscii) {
                return false;
            }
            wordLength = 0;
            wordHasAscii = false;
        }
    }
    return true;
}

Reading readAs(std::string_view utf8, Charset charset) {
    return charset == Charset::Windows1251 || charset == Charset::Koi8 ? readAsCyrillic(utf8)
                                                                       : readAsCjk(utf8, charset);
}

}  // namespace velmora::engine::charsets
