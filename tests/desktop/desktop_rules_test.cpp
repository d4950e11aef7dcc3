#include <gtest/gtest.h>

#include <QDBusObjectPath>
#include <QStringList>

#include "desktop/desktop_link.h"

namespace velmora::desktop {
namespace {

namespace ps = playback::play_state;

TEST(PlaybackStatus, EverythingOnTheWayToSoundIsPlaying) {
    const std::pair<std::int32_t, const char*> rows[] = {
        {ps::Playing, "Playing"},      {ps::Buffering, "Playing"}, {ps::Transitioning, "Playing"},
        {ps::Reconnecting, "Playing"}, {ps::Paused, "Paused"},     {ps::Stopped, "Stopped"},
        {ps::MediaEnded, "Stopped"},   {ps::Undefined, "Stopped"},
    };
    for (const auto& [state, status] : rows) {
        EXPECT_EQ(playbackStatusOf(state), QString::fromLatin1(status)) << "play state " << state;
    }
}

struct MetadataCase {
    const char* name;
    playback::MediaDetails media;
    QVariantMap expected;  // besides mpris:trackid
};

void PrintTo(const MetadataCase& c, std::ostream* os) { *os << c.name; }

class MetadataTest : public ::testing::TestWithParam<MetadataCase> {};

TEST_P(MetadataTest, ShowsWhatThePlayerKnows) {
    QVariantMap shown = metadataOf(GetParam().media, 7);
    const QString track = qvariant_cast<QDBusObjectPath>(shown.take("mpris:trackid")).path();
    EXPECT_EQ(track, GetParam().media.url.empty()
                         ? QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack")
                         : QStringLiteral("/org/velmora/track/7"));
    EXPECT_EQ(shown, GetParam().expected);
}

const std::string kUrl = "http://127.0.0.1/live";
const QString kQUrl = QString::fromStdString(kUrl);

INSTANTIATE_TEST_SUITE_P(
    Rows, MetadataTest,
    ::testing::Values(MetadataCase{"NothingOpened", {}, {}},
                      MetadataCase{"AddressOnly", {kUrl, "", "", {}}, {{"xesam:url", kQUrl}}},
                      MetadataCase{"ArtistAndTitle",
                                   {kUrl, "Nils Frahm - Says", "Radio Eins", {}},
                                   {{"xesam:url", kQUrl},
                                    {"xesam:artist", QStringList{"Nils Frahm"}},
                                    {"xesam:title", "Says"},
                                    {"xesam:album", "Radio Eins"}}},
                      MetadataCase{"TwoSeparatorsStayOneTitle",
                                   {kUrl, "A - B - C", "", {}},
                                   {{"xesam:url", kQUrl}, {"xesam:title", "A - B - C"}}},
                      MetadataCase{"AHyphenIsNoSeparator",
                                   {kUrl, "Jay-Z", "", {}},
                                   {{"xesam:url", kQUrl}, {"xesam:title", "Jay-Z"}}},
                      MetadataCase{
                          "AFileOfKnownLength",
                          {kUrl, "", "", 30'000'000},
                          {{"xesam:url", kQUrl}, {"mpris:length", qlonglong(30'000'000)}}}));

}  // namespace
}  // namespace velmora::desktop
