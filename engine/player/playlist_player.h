#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/player/engine_options.h"
#include "engine/player/failure.h"
#include "engine/player/listener_queue.h"
#include "engine/stations/media_address.h"
#include "playback/player.h"
#include "playback/player_settings.h"
#include "engine/stations/playlist_fetch.h"
#include "engine/runtime/ui_thread.h"

namespace velmora::engine {

// Plays the stations a playlist address names, through a player that plays
// one stream (the stream player). A network address is resolved up front
// only when its name says playlist; otherwise the stream player opens it,
// and only a reply it cannot play is fetched again and read as a playlist.
// An entry that fails gives way to the next one without a notice; after the
// last, the playlist is fetched once more (stations rotate tokenised
// addresses), and only then one Warning names the last cause. Same threading
// contract as every player: called on the user-interface thread only, the
// listener called from the main loop, never from inside a call.
class PlaylistPlayer final : public playback::Player,
                             private playback::PlayerControls,
                             private playback::PlayerListener {
  public:
    // Nested playlists are followed this many levels deep, the first included.
    static constexpr int kMaxPlaylistDepth = 3;
    // Entries tried from one fetch of the playlist before it is fetched again
    // or given up: a list of thousands of dead entries ends like one.
    static constexpr int kMaxTriesPerPass = 10;

    PlaylistPlayer(std::unique_ptr<playback::Player> streamPlayer,
                   const playback::PlayerSettings& settings, const EngineOptions& options);
    ~PlaylistPlayer() override;

    void setURL(std::string_view url) override;
    playback::PlayerControls& controls() override { return *this; }
    std::int32_t playState() const override { return events_.state(); }
    std::string status() const override { return events_.status(); }
    void setListener(playback::PlayerListener* listener) override { events_.setListener(listener); }
    // The stream player's, with the playlist's title for the station until
    // the stream names itself.
    playback::MediaDetails mediaDetails() const override;
    int volume() const override { return streamPlayer_->volume(); }
    void setVolume(int percent) override { streamPlayer_->setVolume(percent); }

  private:
    using Clock = std::chrono::steady_clock;

    // An address to try: the user's own, or a playlist's entry.
    struct Candidate {
        std::string uri;
        std::string title;  // the playlist's title for it; empty for the user's own
        int depth = 0;      // playlists passed through to reach it
    };
    struct Cause {
        std::int32_t warningType = 0;
        std::int32_t param = 0;
        std::string description;
    };
    enum class Phase {
        Idle,       // nothing under way: stopped, paused before resolving, or given up
        Fetching,   // reading a candidate as a playlist
        Streaming,  // the stream player has the candidate
    };

    // PlayerControls
    void play() override;
    void stop() override;
    void pause() override;
    // PlayerListener: the stream player's events
    void onStatusChange() override;
    void onWarning(std::int32_t warningType, std::int32_t param,
                   const std::string& description) override;
    void onMediaError() override;
    void onMediaChange() override;

    static Cause causeOf(FailureKind kind);
    void begin();
    void fetch(Candidate candidate, bool fromStream);
    void onFetched(const Candidate& candidate, bool fromStream, FetchedBody fetched);
    void stream(Candidate candidate);
    void tryNext();
    void giveUp();
    bool canExpand(const Candidate& candidate) const;
    // A network request: failures go to the next candidate.
    bool failsOver() const { return address_.kind == MediaAddress::Kind::Network; }
    void mirrorStreamPlayer();

    std::unique_ptr<playback::Player> streamPlayer_;
    bool autoStart_;
    UiPost post_;
    std::chrono::milliseconds budget_;

    MediaAddress address_;
    Phase phase_ = Phase::Idle;
    // Started with the first fetch: most addresses are never read as playlists.
    // Before the fetch, so that it outlives it.
    std::optional<StateWorker> fetchWorker_;
    std::unique_ptr<PlaylistFetch> fetch_;
    Candidate current_;
    std::vector<Candidate> queue_;
    std::size_t next_ = 0;
    std::set<std::string> fetched_;  // playlists read during this request: no cycles
    int triesInPass_ = 0;
    bool refetched_ = false;
    Clock::time_point deadline_;
    std::optional<Cause> lastCause_;
    // The stream player stopped by itself: its notice follows in the same delivery.
    bool awaitingNotice_ = false;
    bool stopRequested_ = false;
    std::int32_t streamState_ = playback::play_state::Undefined;
    ListenerQueue events_;
};

}  // namespace velmora::engine
