#pragma once

#include <string_view>

namespace velmora::engine::charsets {

// How one decoding of a short text (a radio title, a station name) reads.
// Detectors need far more text than a title holds, so these rules judge a
// decoding by the characters it yields, as a reader of that script would.
struct Reading {
    bool plausible = false;  // nothing in it that text of that script never holds
    double commonShare = 0;  // of its letters, the share that are everyday ones
};

// The charsets a title that is not Western may be in.
enum class Charset { Gb18030, Big5, Cp932, Windows1251, Koi8 };

// The name g_convert (iconv) knows the charset by.
const char* iconvName(Charset charset);

// Whether uchardet's answer (upper case) names the charset or one it covers.
bool isDetectorName(Charset charset, std::string_view name);

// Whether text is Korean as stations write it: Hangul syllables, with ASCII
// and CJK punctuation, most of them among the everyday ones. EUC-KR puts its
// syllables where GB2312 keeps its everyday ideographs, so the Chinese
// reading of Korean bytes looks fine too: only the syllables it would make
// tell them apart.
bool readsAsKorean(std::string_view utf8);

// Whether the Windows-1252 (or Latin-1) reading of the bytes is Western text:
// accented letters inside words of ASCII letters and common punctuation. What
// Chinese, Japanese and Cyrillic bytes make of Latin-1 (runs of accented
// letters, words of nothing else, symbols like ½ or ¤) is not.
bool readsAsWestern(std::string_view utf8);

// How the decoding of bytes in `charset` reads.
// Chinese and Japanese: ideographs (and kana, for CP932) with CJK punctuation
// and ASCII; everyday characters are those of the charset's first level
// (GB2312 level 1, Big5's frequent characters, JIS level 1), and kana.
// Cyrillic: Russian and Ukrainian letters in words of their own, in one of
// the cases words are written in; everyday letters are the most frequent.
Reading readAs(std::string_view utf8, Charset charset);

}  // namespace velmora::engine::charsets
