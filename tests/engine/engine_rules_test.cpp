// The engine's pure parts: reading URLs, naming failures, backing off,
// judging the network's supply, cleaning titles.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <set>

#include "engine/error_mapping.h"
#include "engine/failure.h"
#include "engine/leading_silence.h"
#include "engine/media_address.h"
#include "engine/network_health.h"
#include "engine/reconnect_policy.h"
#include "engine/status_texts.h"
#include "engine/stream_title.h"
#include "playback/url_box_rules.h"

namespace velmora::engine {
namespace {

using Kind = MediaAddress::Kind;

struct AddressCase {
    const char* name;
    std::string text;
    MediaAddress expected;
};

void PrintTo(const AddressCase& row, std::ostream* out) { *out << row.name; }

class MediaAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(MediaAddressTest, ReadsTheUrlAsPasted) {
    EXPECT_EQ(readMediaAddress(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MediaAddressTest,
    ::testing::Values(
        AddressCase{"Http",
                    "http://example.com/a.mp3",
                    {Kind::Network, "http://example.com/a.mp3", "example.com"}},
        AddressCase{"HttpsAnyCase",
                    "HTTPS://Example.com:8443/live",
                    {Kind::Network, "https://Example.com:8443/live", "Example.com"}},
        AddressCase{"CopyPasteBlanks",
                    " \t\xE3\x80\x80http://example.com/a.mp3\xC2\xA0\r\n",
                    {Kind::Network, "http://example.com/a.mp3", "example.com"}},
        AddressCase{"BareDottedHost",
                    "radio.example.com:8000/stream",
                    {Kind::Network, "http://radio.example.com:8000/stream", "radio.example.com"}},
        AddressCase{"SpacesInPathEncoded",
                    "http://example.com/my song.mp3",
                    {Kind::Network, "http://example.com/my%20song.mp3", "example.com"}},
        AddressCase{"ChineseInPathEncoded",
                    "http://example.com/\xE6\xAD\x8C.mp3",
                    {Kind::Network, "http://example.com/%E6%AD%8C.mp3", "example.com"}},
        AddressCase{"UserInfoIsNotTheHost",
                    "http://user:pw@example.com/a",
                    {Kind::Network, "http://user:pw@example.com/a", "example.com"}},
        AddressCase{
            "Ipv6Literal", "http://[::1]:8000/a", {Kind::Network, "http://[::1]:8000/a", "::1"}},
        AddressCase{"AbsolutePath", "/music/a b.mp3", {Kind::File, "file:///music/a%20b.mp3", ""}},
        AddressCase{"FileUri", "file:///music/a.mp3", {Kind::File, "file:///music/a.mp3", ""}},
        AddressCase{"Empty", "", {}}, AddressCase{"OnlyBlanks", "  \n", {}},
        AddressCase{"ThePrompt", playback::urlPrompt(), {Kind::Refused, "", ""}},
        AddressCase{"Ftp", "ftp://example.com/a.mp3", {Kind::Refused, "", ""}},
        AddressCase{"Descriptor", "fd://0", {Kind::Refused, "", ""}},
        AddressCase{"Device", "alsa://hw:0", {Kind::Refused, "", ""}},
        AddressCase{"Rtsp", "rtsp://example.com/s", {Kind::Refused, "", ""}},
        AddressCase{"NoHost", "http:///a.mp3", {Kind::Refused, "", ""}},
        AddressCase{"OneSlash", "http:/example.com/a", {Kind::Refused, "", ""}},
        AddressCase{"BadPort", "http://example.com:80x/a", {Kind::Refused, "", ""}},
        AddressCase{"UndottedWord", "music", {Kind::Refused, "", ""}},
        AddressCase{"Prose", "see example.com/a.mp3", {Kind::Refused, "", ""}},
        AddressCase{"RemoteFileHost", "file://server/a.mp3", {Kind::Refused, "", ""}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ErrorCase {
    const char* name;
    ErrorFacts facts;
    FailureKind kind;
    bool needsDiagnosis;
};

void PrintTo(const ErrorCase& row, std::ostream* out) { *out << row.name; }

ErrorFacts facts(ErrorFacts::Domain domain, int code, bool fromSource, bool network,
                 int httpStatus = 0) {
    ErrorFacts f;
    f.domain = domain;
    f.code = code;
    f.fromSource = fromSource;
    f.networkSource = network;
    f.httpStatus = httpStatus;
    return f;
}

ErrorFacts with(ErrorFacts f, bool ErrorFacts::*flag) {
    f.*flag = true;
    return f;
}

using D = ErrorFacts::Domain;

class ErrorMappingTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorMappingTest, NamesTheFailure) {
    const ErrorVerdict verdict = classifyError(GetParam().facts);
    EXPECT_EQ(verdict.failure.kind, GetParam().kind);
    EXPECT_EQ(verdict.needsDiagnosis, GetParam().needsDiagnosis);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorMappingTest,
    ::testing::Values(
        ErrorCase{"Http404", facts(D::Resource, GST_RESOURCE_ERROR_NOT_FOUND, true, true, 404),
                  FailureKind::HttpError, false},
        ErrorCase{"Http500", facts(D::Resource, GST_RESOURCE_ERROR_READ, true, true, 500),
                  FailureKind::HttpError, false},
        ErrorCase{"InvalidUriIsCode3WithoutStatus",
                  facts(D::Resource, GST_RESOURCE_ERROR_NOT_FOUND, true, true),
                  FailureKind::UnsupportedAddress, false},
        ErrorCase{"RedirectLeftOver",
                  facts(D::Resource, GST_RESOURCE_ERROR_OPEN_READ, true, true, 302),
                  FailureKind::TooManyRedirects, false},
        ErrorCase{"BareStreamErrorFromSource",
                  facts(D::Stream, GST_STREAM_ERROR_FAILED, true, true),
                  FailureKind::ConnectionLost, true},
        ErrorCase{"SeekRefusedAfterDrop", facts(D::Resource, GST_RESOURCE_ERROR_SEEK, true, true),
                  FailureKind::ConnectionLost, false},
        ErrorCase{"MissingFile", facts(D::Resource, GST_RESOURCE_ERROR_NOT_FOUND, true, false),
                  FailureKind::FileNotFound, false},
        ErrorCase{"HtmlPage",
                  with(facts(D::Core, GST_CORE_ERROR_MISSING_PLUGIN, false, true),
                       &ErrorFacts::contentNotAudio),
                  FailureKind::NotAudio, false},
        ErrorCase{"NoAudioDecoder",
                  with(facts(D::Core, GST_CORE_ERROR_MISSING_PLUGIN, false, true),
                       &ErrorFacts::decoderMissing),
                  FailureKind::NoDecoder, false},
        ErrorCase{"Garbage", facts(D::Stream, GST_STREAM_ERROR_TYPE_NOT_FOUND, false, true),
                  FailureKind::NotAudio, false},
        ErrorCase{"NoSoundServer",
                  with(facts(D::Resource, GST_RESOURCE_ERROR_OPEN_WRITE, false, true),
                       &ErrorFacts::audioOutputMissing),
                  FailureKind::NoAudioOutput, false},
        ErrorCase{"Negotiation", facts(D::Core, GST_CORE_ERROR_NEGOTIATION, false, false),
                  FailureKind::Internal, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FailureTest, EveryKindHasItsOwnTextAndTheRightNotice) {
    const std::set<FailureKind> playerFaults = {FailureKind::NoDecoder, FailureKind::NoAudioOutput,
                                                FailureKind::Internal};
    std::set<std::string> texts;
    for (const FailureKind kind :
         {FailureKind::UnsupportedAddress, FailureKind::HostNotFound,
          FailureKind::ConnectionRefused, FailureKind::TimedOut, FailureKind::HttpError,
          FailureKind::NotAudio, FailureKind::TlsFailure, FailureKind::TooManyRedirects,
          FailureKind::FileNotFound, FailureKind::ReconnectsExhausted, FailureKind::ConnectionLost,
          FailureKind::NoDecoder, FailureKind::NoAudioOutput, FailureKind::Internal}) {
        const std::string text = failureStatusText(Failure{kind, 404, {}});
        EXPECT_FALSE(text.empty());
        EXPECT_TRUE(texts.insert(text).second) << text;
        EXPECT_EQ(noticeFor(kind), playerFaults.count(kind) ? Notice::MediaError : Notice::Warning);
    }
    EXPECT_EQ(failureStatusText(Failure{FailureKind::HttpError, 503, {}}), "服务器错误：HTTP 503");
    EXPECT_EQ(failureStatusText(Failure{FailureKind::HostNotFound, 0, "a.example"}),
              "找不到主机：a.example");
}

TEST(ReconnectPolicyTest, DoublesFromOneSecondCapsAndGivesUpWhenTheTimeIsSpent) {
    ReconnectPolicy policy(ReconnectLimits{});
    std::vector<int> delays;
    std::int64_t nowMs = 0;
    while (auto delay = policy.nextDelayMs(nowMs)) {
        delays.push_back(*delay);
        nowMs += *delay;
    }
    EXPECT_EQ(delays,
              (std::vector<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000, 30000}));
    EXPECT_EQ(policy.attempt(), 9);
    policy.reset();
    EXPECT_EQ(policy.nextDelayMs(nowMs), 1000);
    EXPECT_EQ(policy.attempt(), 1);
}

TEST(ReconnectPolicyTest, OnlySteadyPlayingStartsTheCountOver) {
    struct Row {
        const char* name;
        std::int64_t playedMs;  // between the first loss's reconnect and the second loss
        int secondDelayMs;
    };
    for (const Row& row : {Row{"half a second of sound", 500, 2000},
                           Row{"just short of steady", 29999, 2000}, Row{"steady", 30000, 1000}}) {
        ReconnectPolicy policy(ReconnectLimits{});
        ASSERT_EQ(policy.nextDelayMs(0), 1000) << row.name;
        policy.playing(1000);
        EXPECT_EQ(policy.nextDelayMs(1000 + row.playedMs), row.secondDelayMs) << row.name;
    }
    // A server that plays a moment on every connection is given up within the budget.
    ReconnectPolicy policy(ReconnectLimits{});
    std::int64_t nowMs = 0;
    int attempts = 0;
    while (auto delay = policy.nextDelayMs(nowMs)) {
        nowMs += *delay;
        policy.playing(nowMs);
        nowMs += 500;
        ASSERT_LT(++attempts, 100);
    }
}

TEST(NetworkHealthTest, StallsOnlyWhenNothingArrivesWhileTheSoundAheadIsLow) {
    constexpr std::chrono::milliseconds kTimeout{1500};
    constexpr std::chrono::milliseconds kLookEvery{100};
    constexpr std::int64_t kUnknown = -1;
    struct Row {
        const char* name;
        std::uint64_t bytesPerLook;
        std::int64_t aheadMs;
        bool wanted;
        bool finished;
        bool stalls;
    };
    for (const Row& row : {
             Row{"nothing arrives, the sound runs low", 0, 20, true, false, true},
             Row{"nothing arrives before the first sound", 0, kUnknown, true, false, true},
             Row{"a fast server: buffers full, the source waits", 0, 3800, true, false, false},
             Row{"bytes keep coming", 100, 20, true, false, false},
             Row{"paused", 0, 20, false, false, false},
             Row{"the source sent everything", 0, 20, true, true, false},
         }) {
        const NetworkHealth::Clock::time_point start{};
        NetworkHealth health(kTimeout, start);
        std::optional<std::chrono::milliseconds> firstStall;
        std::uint64_t bytes = 0;
        for (auto at = kLookEvery; at <= 2 * kTimeout; at += kLookEvery) {
            bytes += row.bytesPerLook;
            const std::int64_t aheadNs =
                row.aheadMs == kUnknown ? NetworkHealth::kUnknownNs : row.aheadMs * 1000000;
            if (health.stalled({start + at, bytes, aheadNs, row.wanted, row.finished}) &&
                !firstStall) {
                firstStall = at;
            }
        }
        EXPECT_EQ(firstStall.has_value(), row.stalls) << row.name;
        if (firstStall) {
            EXPECT_EQ(*firstStall, kTimeout) << row.name;
        }
    }
}

TEST(NetworkHealthTest, RunningDryWaitsForALongerBufferEachTimeUpToThreeSeconds) {
    using Supply = NetworkHealth::Supply;
    NetworkHealth health(std::chrono::milliseconds(1500), {});
    const auto supply = [&](std::int64_t aheadMs, bool finished = false) {
        return health.supply({{}, 0, aheadMs * 1000000, true, finished});
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

TEST(StreamTitleTest, KeepsUtf8ReadsLatin1AndDropsControls) {
    EXPECT_EQ(streamTitleText("  \xE6\xAD\x8C\xE6\x9B\xB2 - Artist "),
              "\xE6\xAD\x8C\xE6\x9B\xB2 - Artist");
    EXPECT_EQ(streamTitleText("Caf\xE9 M\xFCller"), "Caf\xC3\xA9 M\xC3\xBCller");
    EXPECT_EQ(streamTitleText("a\tb\x01"), "ab");
    EXPECT_EQ(streamTitleText("\xC0\xAF"), "\xC3\x80\xC2\xAF");  // overlong: not UTF-8
    EXPECT_EQ(streamTitleText("   "), "");
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

TEST(StatusTextTest, SaysWhatIsGoingOn) {
    EXPECT_EQ(status_text::connecting("radio.example"), "正在连接 radio.example…");
    EXPECT_EQ(status_text::connecting(""), "正在打开文件…");
    EXPECT_EQ(status_text::buffering(140), "正在缓冲 100%");
    EXPECT_EQ(status_text::playing(""), "正在播放");
    EXPECT_EQ(status_text::playing("Song"), "正在播放：Song");
    EXPECT_EQ(status_text::reconnecting(2), "连接中断，正在重连（第 2 次）…");
}

}  // namespace
}  // namespace velmora::engine
