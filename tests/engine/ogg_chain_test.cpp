// An Ogg station (Icecast's chained Ogg) starts a new logical stream at every
// song: new pads, a segment whose times start over, new tags.
#include <malloc.h>

#include "engine_test_support.h"

namespace velmora::engine::testing {
namespace {

constexpr int kSongChanges = 4;
constexpr auto kSongLength = 1s;  // as the stream server makes them
constexpr auto kMaxGap = 50ms;
const std::string kArtist = "Velmora test radio - ";

struct Station {
    std::string codec;
    std::vector<std::string> songs;  // the titles in the order the server rotates them
};

std::string playing(const std::string& title) { return "正在播放：" + kArtist + title; }

std::vector<std::string> titles(const RecordingListener& listener) {
    std::vector<std::string> shown;
    for (const PlayerEvent& event : listener.events()) {
        if (event.kind == PlayerEvent::Kind::Status && event.status.starts_with(playing("")) &&
            (shown.empty() || shown.back() != event.status)) {
            shown.push_back(event.status);
        }
    }
    return shown;
}

// The heap's bytes in use in every arena: what is still held, unlike the
// resident size, which keeps what the streaming threads' arenas freed.
std::size_t heapInUseBytes() {
    const struct mallinfo2 heap = mallinfo2();
    return heap.uordblks + heap.hblkhd;
}

void PrintTo(const Station& station, std::ostream* out) { *out << station.codec; }

class OggChainTest : public PlayerPipelineTest, public ::testing::WithParamInterface<Station> {};

TEST_P(OggChainTest, PlaysThroughEverySongChangeShowingEachTitle) {
    const Station& station = GetParam();
    makePlayer({});
    setUrl(server.url("/live.ogg?codec=" + station.codec));
    ASSERT_TRUE(runUntil([&] { return player->playState() == ps::Playing; }, kStartTimeout));
    EXPECT_TRUE(runUntil([&] { return titles(*listener).size() > kSongChanges; },
                         kSongChanges * kSongLength + kStartTimeout));
    // A title shows as its song is decoded: the last one is heard a little later.
    runFor(kSongLength);
    std::vector<std::string> expected;
    for (int song = 0; song <= kSongChanges; ++song) {
        expected.push_back(playing(station.songs[song % station.songs.size()]));
    }
    auto shown = titles(*listener);
    shown.resize(std::min(shown.size(), expected.size()));
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(player->playState(), ps::Playing);
    EXPECT_LE(longestSilenceMs(), kMaxGap.count());
    EXPECT_TRUE(listener->notices().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, OggChainTest,
    // A chain of one codec, and one that changes codec at every song.
    ::testing::Values(Station{"vorbis", {"Vorbis song 1", "Vorbis song 2"}},
                      Station{"mixed",
                              {"Vorbis song 1", "Opus song 1", "FLAC song 1", "Vorbis song 2",
                               "Opus song 2", "FLAC song 2"}}),
    [](const ::testing::TestParamInfo<Station>& info) { return info.param.codec; });

// What each song's decoder and pads held goes with them. Forty times real time
// into an unpaced sink: at full speed, what waits in buffers would hide it.
TEST_F(PlayerPipelineTest, AnOggStationsMemoryStaysLevelOverHundredsOfSongChanges) {
    constexpr std::size_t kWarmUpChanges = 100;
    constexpr std::size_t kSoakChanges = 600;  // 500 measured
    constexpr auto kSoakTimeout = 25s;
    constexpr std::size_t kMaxGrowthBytes = 1u << 20;  // 2 KiB a song
    EngineOptions options;
    options.audioOutput = unpacedOutput();
    makePlayer(std::move(options));
    setUrl(server.url("/live.ogg?codec=mixed&kbps=4000"));
    ASSERT_TRUE(runUntil([&] { return titles(*listener).size() >= kWarmUpChanges; }, kSoakTimeout));
    const std::size_t before = heapInUseBytes();
    ASSERT_TRUE(runUntil([&] { return titles(*listener).size() >= kSoakChanges; }, kSoakTimeout));
    const std::size_t after = heapInUseBytes();
    RecordProperty("growth_kib", static_cast<int>((std::max(after, before) - before) >> 10));
    EXPECT_LT(after, before + kMaxGrowthBytes) << (after - before) / 1024 << " KiB more";
    EXPECT_TRUE(listener->notices().empty());
}

}  // namespace
}  // namespace velmora::engine::testing
