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

// Whether the Windows-1252 (or Latin-1) reading of the bytes is Western text:
// accented letters inside words of ASCII letters and common punctuation. What
// Chinese, Japanese and Cyrillic bytes make of Latin-1 (runs of accented
// letters, words of nothing else, symbols like ½ or ¤) is not.
bool readsAsWestern(std::string_view utf8);

// The decoding of bytes in `charset` (GB18030, BIG5 or CP932) as Chinese or
// Japanese: ideographs (and kana, for CP932) with CJK punctuation and ASCII.
// Everyday characters are those of the charset's first level (GB2312 level 1,
// Big5's frequent characters, JIS level 1), and kana for Japanese.
Reading readAsCjk(std::string_view utf8, const char* charset);

// A Cyrillic decoding (Windows-1251, KOI8): Russian and Ukrainian letters in
// words of their own, in one of the cases words are written in.
Reading readAsCyrillic(std::string_view utf8);

}  // namespace velmora::engine::charsets
