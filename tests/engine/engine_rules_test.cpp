// The engine's pure parts. How errors are classified is proved on real
// pipelines.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "engine/pipeline/leading_silence.h"
#include "engine/pipeline/network_health.h"
#include "engine/player/reconnect_policy.h"
#include "engine/stations/media_address.h"
#include "engine/texts/stream_title.h"
#include "playback/url_box_rules.h"

namespace velmora::engine {
namespace {

using enum MediaAddress::Kind;

struct AddressCase {
    const char* name;
    std::string text;
    MediaAddress::Kind kind;
    std::string uri = {};
    std::string host = {};
};

const std::string kA = "http://example.com/a.mp3";

const AddressCase kAddresses[] = {
    AddressCase{"Http", kA, Network, kA, "example.com"},
    AddressCase{"HttpsAnyCase", "HTTPS://Example.com:8443/live", Network,
                "https://Example.com:8443/live", "Example.com"},
    AddressCase{"CopyPasteBlanks", " \t\xE3\x80\x80" + kA + "\xC2\xA0\r\n", Network, kA,
                "example.com"},
    AddressCase{"BareDottedHost", "radio.example.com:8000/stream", Network,
                "http://radio.example.com:8000/stream", "radio.example.com"},
    AddressCase{"SpacesInPathEncoded", "http://example.com/my song.mp3", Network,
                "http://example.com/my%20song.mp3", "example.com"},
    AddressCase{"ChineseInPathEncoded", "http://example.com/\xE6\xAD\x8C.mp3", Network,
                "http://example.com/%E6%AD%8C.mp3", "example.com"},
    AddressCase{"UserInfoIsNotTheHost", "http://user:pw@example.com/a", Network,
                "http://user:pw@example.com/a", "example.com"},
    AddressCase{"Ipv6Literal", "http://[::1]:8000/a", Network, "http://[::1]:8000/a", "::1"},
    AddressCase{"AbsolutePath", "/music/a b.mp3", File, "file:///music/a%20b.mp3"},
    AddressCase{"FileUri", "file:///music/a.mp3", File, "file:///music/a.mp3"},
    AddressCase{"Empty", "", None},
    AddressCase{"OnlyBlanks", "  \n", None},
    AddressCase{"ThePrompt", playback::urlPrompt(), Refused},
    AddressCase{"Ftp", "ftp://example.com/a.mp3", Refused},
    AddressCase{"Descriptor", "fd://0", Refused},
    AddressCase{"NoHost", "http:///a.mp3", Refused},
    AddressCase{"OneSlash", "http:/example.com/a", Refused},
    AddressCase{"BadPort", "http://example.com:80x/a", Refused},
    AddressCase{"UndottedWord", "music", Refused},
    AddressCase{"Prose", "see example.com/a.mp3", Refused},
    AddressCase{"RemoteFileHost", "file://server/a.mp3", Refused}};

TEST(MediaAddressTest, ReadsTheUrlAsPasted) {
    for (const AddressCase& row : kAddresses) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(readMediaAddress(row.text), (MediaAddress{row.kind, row.uri, row.host}));
    }
}

// A stream that was playing is tried every quarter second for three seconds
// (a restarting source), then as one that never played: 1, 2, 4 ... 30 s.
TEST(ReconnectPolicyTest, QuickWhileARestartIsLikelyThenDoublesCapsAndGivesUpWhenTheTimeIsSpent) {
    const std::vector<int> backoff{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000, 30000};
    std::vector<int> afterPlaying(12, 250);
    afterPlaying.insert(afterPlaying.end(), backoff.begin(), backoff.end());
    for (const bool wasPlaying : {false, true}) {
        ReconnectPolicy policy(ReconnectLimits{});
        if (wasPlaying) {
            policy.playing(-1000);
        }
        std::vector<int> delays;
        std::int64_t nowMs = 0;
        while (auto delay = policy.nextDelayMs(nowMs)) {
            delays.push_back(*delay);
            nowMs += *delay;
        }
        EXPECT_EQ(delays, wasPlaying ? afterPlaying : backoff);
        EXPECT_EQ(policy.attempt(), static_cast<int>(delays.size()));
        policy.reset();
        EXPECT_EQ(policy.nextDelayMs(nowMs), 1000);
        EXPECT_EQ(policy.attempt(), 1);
    }
}

TEST(ReconnectPolicyTest, OnlySteadyPlayingStartsTheCountOver) {
    struct Row {
        const char* name;
        std::int64_t playedMs;  // between the first loss's reconnect and the second loss
        int secondDelayMs;
    };
    for (const Row& row : {Row{"half a second of sound", 500, 2000},
                           Row{"just short of steady", 29999, 2000}, Row{"steady", 30000, 250}}) {
        ReconnectPolicy policy(ReconnectLimits{});
        ASSERT_EQ(policy.nextDelayMs(0), 1000) << row.name;
        policy.playing(1000);
        EXPECT_EQ(policy.nextDelayMs(1000 + row.playedMs), row.secondDelayMs) << row.name;
    }
}

TEST(NetworkHealthTest, RunningDryWaitsForALongerBufferEachTimeUpToThreeSeconds) {
    using Supply = NetworkHealth::Supply;
    NetworkHealth health;
    const auto supply = [&](std::int64_t aheadMs, bool finished = false) {
        return health.supply({0, aheadMs * 1000000, true, finished});
    };
    EXPECT_EQ(supply(500), Supply::Unchanged);
    for (const std::int64_t targetMs : {1000, 2000, 3000, 3000}) {
        EXPECT_EQ(supply(10), Supply::RanDry) << targetMs;
        EXPECT_EQ(supply(targetMs / 2), Supply::Refilling) << targetMs;
        EXPECT_EQ(health.refillPercent(), 50) << targetMs;
        EXPECT_EQ(supply(targetMs - 1), Supply::Refilling) << targetMs;
        EXPECT_EQ(supply(targetMs), Supply::Refilled) << targetMs;
    }
    EXPECT_EQ(supply(10), Supply::RanDry);
    EXPECT_EQ(supply(10, true), Supply::Refilled) << "the source's end plays out what is there";
}

TEST(StreamTitleTest, KeepsUtf8ReadsOtherBytesAndDropsControls) {
    EXPECT_EQ(streamTitleText("  \xE6\xAD\x8C\xE6\x9B\xB2 - Artist "),
              "\xE6\xAD\x8C\xE6\x9B\xB2 - Artist");
    EXPECT_EQ(streamTitleText("Caf\xC3\x83\xC2\xA9"), "Caf\xC3\xA9");  // UTF-8 encoded twice
    EXPECT_EQ(streamTitleText("a\tb\x01"), "ab");
    EXPECT_EQ(streamTitleText(std::string("Caf\xC3\xA9\0", 6)), "Caf\xC3\xA9");  // NUL is UTF-8
    EXPECT_EQ(streamTitleText("   "), "");
    // U+202E, U+2066 and U+202A would turn the status line around; C1 controls are controls.
    EXPECT_EQ(streamTitleText("a\xE2\x80\xAE"
                              "b\xE2\x81\xA6"
                              "c\xE2\x80\xAA"
                              "d\xC2\x85"),
              "abcd");
    const std::string longTitle = streamTitleText(std::string(4000, 'x'));
    EXPECT_EQ(longTitle, std::string(kMaxTitleCharacters, 'x') + "\xE2\x80\xA6");
    std::string song;  // cut by characters, never inside one
    for (int i = 0; i < 200; ++i) {
        song += "\xE6\xAD\x8C";
    }
    EXPECT_EQ(streamTitleText(song), song.substr(0, 3 * kMaxTitleCharacters) + "\xE2\x80\xA6");
}

TEST(LeadingSilenceTest, FindsTheFirstFrameAboveTheEncodersLeadIn) {
    // Stereo: an encoder's pre-echo (-50 dBFS) in the second channel, then sound.
    const std::vector<std::int16_t> s16 = {0, 0, 0, 106, -3, 2, 0, -9000, 5000, 5000};
    EXPECT_EQ(firstAudibleFrame(s16.data(), 5, 2, SampleFormat::S16), 3u);
    const std::vector<float> f32 = {0.0f, 0.001f, 0.5f};
    EXPECT_EQ(firstAudibleFrame(f32.data(), 3, 1, SampleFormat::F32), 2u);
    const std::vector<std::int32_t> quiet = {0, 1000, -1000, 0};
    EXPECT_EQ(firstAudibleFrame(quiet.data(), 4, 1, SampleFormat::S32), std::nullopt);
}

}  // namespace
}  // namespace velmora::engine
