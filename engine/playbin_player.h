#pragma once

#include <gst/gst.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "engine_options.h"
#include "failure.h"
#include "host_diagnosis.h"
#include "media_address.h"
#include "pipeline.h"
#include "playback/player.h"
#include "playback/player_settings.h"
#include "reconnect_policy.h"
#include "state_worker.h"
#include "ui_thread.h"

namespace velmora::engine {

// The player on GStreamer's playbin. Every call returns without waiting for
// the network or a state change; pipeline events arrive through the bus
// bridge on the user-interface thread, where the listener is called.
class PlaybinPlayer final : public playback::Player, private playback::PlayerControls {
  public:
    PlaybinPlayer(const playback::PlayerSettings& settings, EngineOptions options);
    ~PlaybinPlayer() override;

    void setURL(std::string_view url) override;
    playback::PlayerControls& controls() override { return *this; }
    std::int32_t playState() const override { return state_; }
    std::string status() const override { return status_; }
    void setListener(playback::PlayerListener* listener) override { listener_ = listener; }
    playback::MediaDetails mediaDetails() const override;
    int volume() const override { return settings_.volume; }
    void setVolume(int percent) override;

  private:
    using Clock = std::chrono::steady_clock;
    enum class Intent { Stop, Pause, Play };

    // One opening of the media: a pipeline and what it has shown so far.
    struct Session {
        std::unique_ptr<Pipeline> pipeline;
        bool prerolled = false;
        bool reachedPlaying = false;
        bool failed = false;            // the first ERROR was taken; the rest follow from it
        std::optional<bool> hasLength;  // false: a live stream with no end
        int httpStatus = 0;
        std::string redirectedTo;  // the last redirect's target
        bool contentNotAudio = false;
        bool decoderMissing = false;
        std::string title;
        std::string stationName;  // icy-name
        int startPercent = 0;
        // Paused, after the sound ran out, until rebufferTargetNs is ahead.
        bool rebuffering = false;
        std::int64_t rebufferTargetNs = 0;
        // A file resumed after a drop: prerolls paused, seeks, then plays.
        std::int64_t resumeAtNs = -1;
        bool holdPaused = false;
        // The connection ended early: what arrived plays out, then the
        // end-of-stream reconnects.
        bool sourceLost = false;
        std::uint64_t skipBytes = 0;
        std::uint64_t bytesAtLastCheck = 0;
        Clock::time_point lastProgress;
        Clock::time_point pausedAt;
    };

    struct Event {
        enum class Kind { StatusChange, Warning, MediaError, MediaChange } kind;
        Failure failure;
    };

    // PlayerControls
    void play() override;
    void stop() override;
    void pause() override;

    void openSession();
    void closeSession();
    void applyPipelineState();
    void onMessage(GstMessage* message);
    void onStateChanged(GstMessage* message);
    void onAsyncDone();
    void onEndOfStream();
    void onError(GstMessage* message);
    void onWarning(GstMessage* message);
    void onElementMessage(GstMessage* message);
    void onTags(GstMessage* message);
    void onWatchdog();
    bool checkStall();
    std::int64_t soundAheadNs() const;
    void forgetResume();
    void checkStarvation();
    void loseConnection();
    void fail(const Failure& failure);
    bool isLive() const;

    void setStatus(std::int32_t state, std::string text);
    void queueEvent(Event event);
    void postDelivery();
    void deliverEvents();

    playback::PlayerSettings settings_;
    EngineOptions options_;
    UiPost post_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // posted tasks check it

    MediaAddress address_;
    Intent intent_ = Intent::Stop;
    int playsDone_ = 0;
    std::int64_t resumeAtNs_ = -1;  // where a file resumes after a drop
    bool rangeIgnored_ = false;     // the server sends a file whole, from its start
    std::uint64_t skipBytes_ = 0;   // so a resumed download skips what arrived

    std::int32_t state_ = playback::play_state::Undefined;
    std::string status_;
    std::int32_t notifiedState_ = playback::play_state::Undefined;
    std::string notifiedStatus_;
    playback::PlayerListener* listener_ = nullptr;
    std::deque<Event> events_;
    bool deliveryPosted_ = false;

    StateWorker stateWorker_;  // outlives every session's pipeline
    std::unique_ptr<Session> session_;
    ReconnectPolicy reconnect_;
    bool reconnecting_ = false;
    UiTimer reconnectTimer_;
    UiTimer watchdog_;
    std::unique_ptr<HostDiagnosis> diagnosis_;
};

}  // namespace velmora::engine
