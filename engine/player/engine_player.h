#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/pipeline/media_session.h"
#include "engine/player/engine_options.h"
#include "engine/player/listener_queue.h"
#include "engine/player/recovery.h"
#include "engine/runtime/main_context.h"
#include "engine/runtime/network_return.h"
#include "engine/runtime/state_worker.h"
#include "engine/stations/media_address.h"
#include "engine/stations/playlist_fetch.h"
#include "playback/player.h"
#include "playback/player_settings.h"

namespace velmora::engine {

// The player on GStreamer. It keeps what the user wants (play, pause, stop)
// and the status line; one MediaSession at a time opens the media, and the
// Recovery decides what to open next. Every call returns without waiting for
// the network or a state change; events arrive through the main context, on
// the user-interface thread, where the listener is called.
class EnginePlayer final : public playback::Player,
                           private playback::PlayerControls,
                           private SessionObserver {
  public:
    EnginePlayer(const playback::PlayerSettings& settings, ThreadKeeper& threads,
                 EngineOptions options);
    ~EnginePlayer() override;

    void setURL(std::string_view url) override;
    playback::PlayerControls& controls() override { return *this; }
    std::int32_t playState() const override { return events_.state(); }
    std::string status() const override { return events_.status(); }
    void setListener(playback::PlayerListener* listener) override { events_.setListener(listener); }
    playback::MediaDetails mediaDetails() const override;
    int volume() const override { return settings_.volume; }
    void setVolume(int percent) override;

  private:
    using Clock = std::chrono::steady_clock;
    enum class Intent { Stop, Pause, Play };

    // PlayerControls
    void play() override;
    void stop() override;
    void pause() override;
    // SessionObserver
    void onStartProgress(int percent) override;
    void onPlaying() override;
    void onRefilling(int percent) override;
    void onOutputGone() override;
    void onDetailsChanged(bool titleChanged) override;
    void onEnded() override;
    void onBroken(const Break& broken) override;

    void onNetworkBack();
    void act(const Step& step);
    void openSession(const Opening& opening);
    void startFetch(const Candidate& candidate, bool fromStream);
    void close();
    void retireLater();
    void fail(const Failure& failure);
    void setStatus(std::int32_t state, std::string text) {
        events_.setStatus(state, std::move(text));
    }
    std::string title() const;

    playback::PlayerSettings settings_;
    EngineOptions options_;
    MainContext context_;
    ListenerQueue events_;

    MediaAddress address_;
    Intent intent_ = Intent::Stop;
    int playsDone_ = 0;
    Clock::time_point pausedAt_;
    // Paused before anything played: play() starts the request over.
    bool beginOnPlay_ = false;

    // Every request's; it ends once this and every pipeline that used it are gone.
    std::shared_ptr<HttpSession> http_ = std::make_shared<HttpSession>();
    StateWorker stateWorker_;  // outlives every session's pipeline and every fetch
    Recovery recovery_;
    std::unique_ptr<MediaSession> session_;
    std::unique_ptr<PlaylistFetch> fetch_;
    // Closed sessions, destroyed from a posted call: a session is often closed
    // from inside its own callback, whose frames are still on the stack.
    std::vector<std::unique_ptr<MediaSession>> retired_;
    bool retirePosted_ = false;
    // Last: it stops calling before anything it reaches is gone.
    NetworkReturn networkReturn_;
};

}  // namespace velmora::engine
