#include <glib.h>
#include <gtest/gtest.h>

#include <string>

#include "engine/texts/unknown_text.h"

namespace velmora::engine {
namespace {

struct TitleCase {
    const char* name;
    const char* charset;  // what the station sends the title in
    const char* title;
};

// Titles as stations and their playlists send them.
constexpr TitleCase kTitles[] = {
    {"GbkSingerAndSong", "GBK", "周杰伦 - 晴天"},
    {"GbkTwoCharacters", "GBK", "晴天"},
    {"GbkOneCharacter", "GBK", "晴"},
    {"GbkBracketsAndFullWidth", "GBK", "五月天 - 倔强【MV版】（现场）"},
    {"GbkWithAsciiBand", "GBK", "Beyond - 海阔天空"},
    {"Gb2312", "GB2312", "王菲 - 红豆"},
    {"Gb18030Digits", "GB18030", "刀郎 - 2002年的第一场雪"},
    {"Gb18030FourByteCharacter", "GB18030", "𠮷野家 - 广告歌"},
    {"Gb18030BookTitleMarks", "GB18030", "邓紫棋《光年之外》"},
    {"Big5SingerAndSong", "BIG5", "周杰倫 - 晴天"},
    {"Big5StationName", "BIG5", "中廣流行網"},
    {"ShiftJisKanaAndLatin", "SHIFT_JIS", "宇多田ヒカル - First Love"},
    {"ShiftJisKanjiOnly", "SHIFT_JIS", "米津玄師 - Lemon"},
    {"ShiftJisKatakana", "SHIFT_JIS", "スピッツ - ロビンソン"},
    {"ShiftJisLatinArtist", "SHIFT_JIS", "YOASOBI - 夜に駆ける"},
    {"EucKrSingerAndSong", "EUC-KR", "아이유 - 좋은 날"},
    {"EucKrLatinArtist", "EUC-KR", "BIGBANG - 거짓말"},
    {"EucKrOneWord", "EUC-KR", "사랑"},
    {"Cp1251Russian", "WINDOWS-1251", "Кино - Группа крови"},
    {"Cp1251RussianCapitals", "WINDOWS-1251", "ДДТ - Что такое осень"},
    {"Cp1251AllCapitals", "WINDOWS-1251", "КИНО - ГРУППА КРОВИ"},
    {"Cp1251CapitalsThatPairUp", "WINDOWS-1251", "ЛЮБЭ - КОМБАТ"},
    {"Cp1251Ukrainian", "WINDOWS-1251", "Океан Ельзи - Обійми"},
    {"Cp1251UkrainianLetters", "WINDOWS-1251", "Скрябін - Старі фотографії"},
    {"Cp1251MixedWords", "WINDOWS-1251", "Хіт FM - Бумбокс"},
    {"Koi8rRussian", "KOI8-R", "Кино - Звезда по имени Солнце"},
    {"Koi8rYo", "KOI8-R", "Алла Пугачёва - Миллион алых роз"},
    {"Koi8rSmallLetters", "KOI8-R", "кино - кукушка"},
    {"Koi8uUkrainian", "KOI8-U", "Скрябін - Старі фотографії"},
    {"Latin1Cafe", "ISO-8859-1", "Café del Mar - Beyoncé"},
    {"Latin1Icelandic", "ISO-8859-1", "Sigur Rós - Hoppípolla"},
    {"Latin1EndsInAnAccent", "ISO-8859-1", "Sigur Rós"},
    {"Latin1WordOfAccentsOnly", "ISO-8859-1", "Þú"},
    {"Latin1InvertedQuestionMark", "ISO-8859-1", "¿Dónde estás?"},
    {"Latin1StartsWithAnAccent", "ISO-8859-1", "Ólafur Arnalds - Near Light"},
    {"Latin1Spanish", "ISO-8859-1", "Mägo de Oz - Fiesta pagana"},
    {"Latin1TwoAccents", "ISO-8859-1", "Björk - Jóga"},
    {"Latin1Norwegian", "ISO-8859-1", "Røyksopp - Eple"},
    {"Latin1Cedilla", "ISO-8859-1", "Françoise Hardy - Tous les garçons et les filles"},
    {"Cp1252EnDash", "WINDOWS-1252", "Motörhead – Ace of Spades"},
    {"Cp1252Apostrophe", "WINDOWS-1252", "Sinéad O’Connor – Nothing Compares 2 U"},
    {"Cp1252Quotes", "WINDOWS-1252", "Yann Tiersen – “La Valse d’Amélie”"},
    {"Latin1Collaboration", "ISO-8859-1", "Zedd × Alessia Cara - Stay"},
    {"AsciiWithOneAccent", "ISO-8859-1", "Daft Punk - Get Lucky (Beyoncé Remix)"},
    // UTF-8 is taken as it is, whatever the script.
    {"Utf8Chinese", "UTF-8", "周杰伦 - 晴天"},
    {"Utf8EnDash", "UTF-8", "Motörhead – Ace of Spades"},
    {"Ascii", "UTF-8", "Daft Punk - Get Lucky"},
};

void PrintTo(const TitleCase& row, std::ostream* out) { *out << row.name; }

class UnknownTextTest : public testing::TestWithParam<TitleCase> {};

TEST_P(UnknownTextTest, ReadsTheTitleBackFromWhatArrives) {
    const TitleCase& row = GetParam();
    gsize length = 0;
    g_autofree gchar* bytes =
        g_convert(row.title, -1, row.charset, "UTF-8", nullptr, &length, nullptr);
    ASSERT_NE(bytes, nullptr);
    const std::string sent(bytes, length);
    // icydemux in a UTF-8 locale: UTF-8 as it is, anything else read as
    // Windows-1252 when every byte is defined there, else as Latin-1.
    g_autofree gchar* asWindows1252 = g_convert(bytes, static_cast<gssize>(length), "UTF-8",
                                                "WINDOWS-1252", nullptr, nullptr, nullptr);
    g_autofree gchar* asLatin1 = g_convert(bytes, static_cast<gssize>(length), "UTF-8",
                                           "ISO-8859-1", nullptr, nullptr, nullptr);
    const std::string arrived = g_utf8_validate(bytes, -1, nullptr) ? sent
                                : asWindows1252 != nullptr          ? asWindows1252
                                                                    : asLatin1;
    EXPECT_EQ(decodeUnknownText(arrived), row.title) << "from icydemux";
    EXPECT_EQ(decodeUnknownText(sent), row.title) << "from the bytes (header, playlist)";
}

INSTANTIATE_TEST_SUITE_P(Titles, UnknownTextTest, testing::ValuesIn(kTitles),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmora::engine
