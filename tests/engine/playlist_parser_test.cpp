// Playlist bodies as stations publish them, quirks included, read in memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/stations/playlist_parser.h"

namespace velmora::engine {
namespace {

using Kind = Playlist::Kind;
const std::string kBase = "http://radio.example/lists/station.pls";

struct ParseCase {
    const char* name;
    std::string body;
    Kind kind;
    std::vector<PlaylistEntry> entries;
    int refused = 0;
};

const ParseCase kBodies[] = {
    ParseCase{"PlsCrlfBomAnyCaseWrongCountOutOfOrder",
              "\xEF\xBB\xBF[Playlist]\r\nnumberofentries=1\r\nFILE2=http://b.example/s\r\n"
              "Title2=Two\r\nfile1=http://a.example/s\r\ntitle1=One\r\nVersion=2\r\n",
              Kind::Stations,
              {{"http://a.example/s", "One"}, {"http://b.example/s", "Two"}}},
    ParseCase{"PlsRelativeEntryAndDuplicate",
              "[playlist]\nFile1=../live.mp3\nFile2=http://radio.example/live.mp3\n",
              Kind::Stations,
              {{"http://radio.example/live.mp3", ""}}},
    ParseCase{"PlsOfLocalFilesDevicesAndDescriptors",
              "[playlist]\nFile1=/home/me/a.mp3\nFile2=C:\\Music\\b.mp3\nFile3=file:///dev/"
              "dsp\nFile4=fd://0\nFile5=mms://old.example/s\n",
              Kind::Stations,
              {},
              5},
    ParseCase{"EmptyPls", "[playlist]\nNumberOfEntries=0\n", Kind::Stations, {}},
    ParseCase{"ExtendedM3uLatin1WithCommentsAndBlankLines",
              "#EXTM3U\n\n# a comment\n#EXTINF:-1,Caf\xE9 Radio\nstream.mp3\n\n"
              "#EXTINF:-1,\nhttps://c.example/x?a=1&b=2\n",
              Kind::Stations,
              {{"http://radio.example/lists/stream.mp3", "Caf\xC3\xA9 Radio"},
               {"https://c.example/x?a=1&b=2", ""}}},
    ParseCase{"PlsInGbk",
              "[playlist]\nFile1=http://a.example/s\nTitle1=\xD6\xD0\xB9\xFA\xD6\xAE\xC9\xF9\n",
              Kind::Stations,
              {{"http://a.example/s", "中国之声"}}},
    ParseCase{"PlainM3uAndUriList",
              "# text/uri-list\r\nhttp://a.example/1\r\nrelative/2.mp3\r\n",
              Kind::Stations,
              {{"http://a.example/1", ""}, {"http://radio.example/lists/relative/2.mp3", ""}}},
    ParseCase{"HlsStaysWithThePipeline",
              "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2.0,\nseg00000.ts\n",
              Kind::Hls,
              {}},
    ParseCase{
        "XspfWithXmlBaseEntitiesAndTitles",
        "<?xml version=\"1.0\"?>\n<playlist version=\"1\" "
        "xmlns=\"http://xspf.org/ns/0/\" xml:base=\"http://x.example/dir/\">"
        "<title>Station &amp; Co</title><trackList>"
        "<track><location> a.mp3 </location><title>First</title></track>"
        "<track xml:base=\"https://y.example/\"><location>b.mp3</location></track>"
        "<track><title>no location</title></track>"
        "</trackList></playlist>",
        Kind::Stations,
        {{"http://x.example/dir/a.mp3", "First"}, {"https://y.example/b.mp3", "Station & Co"}}},
    ParseCase{"AsxAnyCaseBareAmpersandAlternativesAndNesting",
              "<ASX version=\"3.0\"><Title>List</Title>\n<Entry><REF HREF=\"http://a.example/"
              "s?x=1&y=2\"/><ref href='http://b.example/s' /><TITLE>Main</TITLE></Entry>"
              "<entry><ref href=mms://old.example/s></entry>"
              "<EntryRef HREF=\"more.asx\"/></ASX>",
              Kind::Stations,
              {{"http://a.example/s?x=1&y=2", "Main"},
               {"http://b.example/s", "Main"},
               {"http://radio.example/lists/more.asx", "List"}},
              1},
    // Central European text is never guessed: only the declaration names it.
    ParseCase{"XspfDeclaringLatin2",
              "<?xml version='1.0' encoding='ISO-8859-2'?><playlist><trackList><track>"
              "<location>http://a.example/s</location><title>Radio \xA3\xF3"
              "d\xBC</title>"
              "</track></trackList></playlist>",
              Kind::Stations,
              {{"http://a.example/s", "Radio Łódź"}}},
    ParseCase{"AsxInUtf16",
              std::string(
                  "\xFF\xFE\x3C\x00\x61\x00\x73\x00\x78\x00\x3E\x00\x3C\x00\x65\x00\x6E\x00\x74\x00"
                  "\x72\x00\x79\x00\x3E\x00\x3C\x00\x72\x00\x65\x00\x66\x00\x20\x00\x68\x00\x72\x00"
                  "\x65\x00\x66\x00\x3D\x00\x78\x00\x3E\x00\x3C\x00\x74\x00\x69\x00\x74\x00\x6C\x00"
                  "\x65\x00\x3E\x00\xC4\xC5\x15\xC8\x54\xD6\x3C\x00\x2F\x00\x74\x00\x69\x00\x74\x00"
                  "\x6C\x00\x65\x00\x3E\x00\x3C\x00\x2F\x00\x65\x00\x6E\x00\x74\x00\x72\x00\x79\x00"
                  "\x3E\x00\x3C\x00\x2F\x00\x61\x00\x73\x00\x78\x00\x3E\x00",
                  114),
              Kind::Stations,
              {{"http://radio.example/lists/x", "엄정화"}}},
    ParseCase{"AsxIni",
              "[Reference]\r\nRef1=http://a.example/s?MSWMExt=.asf\r\nRef2=http://b.example/"
              "s\r\n",
              Kind::Stations,
              {{"http://a.example/s?MSWMExt=.asf", ""}, {"http://b.example/s", ""}}},
    ParseCase{"TitlesArePlainText",
              "[playlist]\nFile1=http://a.example/s\nTitle1=\xE2\x80\xAE"
              "evil\x07\n",
              Kind::Stations,
              {{"http://a.example/s", "evil"}}},
    ParseCase{"ATextSentence", "not found\n", Kind::NotPlaylist, {}}};

TEST(PlaylistParserTest, FindsTheStations) {
    for (const ParseCase& row : kBodies) {
        SCOPED_TRACE(row.name);
        const Playlist playlist = parsePlaylist(row.body, kBase);
        EXPECT_EQ(playlist.kind, row.kind);
        EXPECT_EQ(playlist.entries, row.entries);
        EXPECT_EQ(playlist.refusedEntries, row.refused);
    }
}

TEST(PlaylistAddressTest, JudgesByTheExtensionOfThePathOnly) {
    EXPECT_TRUE(looksLikePlaylistAddress("http://a.example/listen.PLS?sid=1"));
    EXPECT_TRUE(looksLikePlaylistAddress("https://a.example/x.xspf#top"));
    EXPECT_FALSE(looksLikePlaylistAddress("http://a.example/live.m3u8"));
    EXPECT_FALSE(looksLikePlaylistAddress("http://a.example/stream?format=.pls.mp3"));
    EXPECT_FALSE(looksLikePlaylistAddress("http://a.example/get?file=a.pls"));
}

}  // namespace
}  // namespace velmora::engine
