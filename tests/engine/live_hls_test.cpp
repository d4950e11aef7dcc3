// A live HLS station: a sliding playlist window and a loop whose wrap the
// player must not hear; a packager that stops must not leave it playing silence.
#include "engine_test_support.h"

namespace velmora::engine::testing {
namespace {

constexpr int kRateHz = 44100;
// The server loops 8 s of tone in 1 s segments, four of them in the window:
// 9 s of sound are past the wrap and at least five playlist refreshes.
constexpr std::size_t kPastTheWrapFrames = 9 * kRateHz;
constexpr auto kPastTheWrapTimeout = 9s + kStartTimeout;
constexpr auto kAfterTheWrap = 2s;
constexpr std::size_t kAfterTheWrapFrames = kRateHz;  // half of what plays
// The wrap joins an MP3 encoding's padding to its encoder delay: 40 ms of quiet.
constexpr auto kMaxGap = 100ms;

class RollingHlsTest : public PlayerPipelineTest,
                       public ::testing::WithParamInterface<const char*> {};

TEST_P(RollingHlsTest, PlaysOnThroughPlaylistRefreshesAndTheLoopWrap) {
    makePlayer({});
    setUrl(server.url(std::string("/hls/rolling.m3u8?segment=1") + GetParam()));
    ASSERT_TRUE(
        runUntil([&] { return sound.frameCount() >= kPastTheWrapFrames; }, kPastTheWrapTimeout))
        << sound.frameCount() << " frames";
    // A wrap the player fails at delivers a burst of sound, then nothing.
    const std::size_t wrapped = sound.frameCount();
    runFor(kAfterTheWrap);
    EXPECT_GT(sound.frameCount(), wrapped + kAfterTheWrapFrames);
    EXPECT_GT(sound.toneShare(kToneHz, kToneSeconds), 0.9);
    EXPECT_LE(longestSilenceMs(), kMaxGap.count());
    EXPECT_EQ(player->playState(), ps::Playing);
    EXPECT_EQ(player->status(), "正在播放");
    EXPECT_FALSE(refilledAfterFirstSound());
    EXPECT_EQ(player->mediaDetails().lengthUs, std::nullopt) << "a live station has no length";
    EXPECT_TRUE(listener->notices().empty());
}

// Timestamps that run on across the wrap, as from an encoder that never stopped,
// or start over after a discontinuity tag, as after an encoder's restart.
INSTANTIATE_TEST_SUITE_P(Wraps, RollingHlsTest, ::testing::Values("", "&restart=1"),
                         [](const auto& info) {
                             return std::string(*info.param ? "EncoderRestarts" : "Seamless");
                         });

// The playlist is still served but never names a new segment, and hlsdemux
// polls it for ever without a word: the refill's deadline and then the
// retries run out.
TEST_F(PlayerPipelineTest, AStuckPackagerEndsInOneNoticeWithinTheDeadline) {
    constexpr auto kGiveUpBound =
        kStallTimeoutMs * 1ms + 6s + 4s;  // stall, retries, a busy machine
    makePlayer(quick(kQuickRetries));
    setUrl(server.url("/hls/rolling.m3u8?segment=1&freeze_after=2"));
    ASSERT_TRUE(runUntil([&] { return player->playState() == ps::Playing; }, kStartTimeout));
    EXPECT_TRUE(runUntil([&] { return player->playState() == ps::Stopped; },
                         6s + kGiveUpBound))  // six segments play first
        << player->status();
    runFor(500ms);
    ASSERT_EQ(listener->notices().size(), 1u);
    EXPECT_EQ(listener->notices()[0].kind, PlayerEvent::Kind::Warning);
}

}  // namespace
}  // namespace velmora::engine::testing
