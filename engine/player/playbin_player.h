#pragma once

#include <gst/gst.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/player/engine_options.h"
#include "engine/player/failure.h"
#include "engine/runtime/host_diagnosis.h"
#include "engine/player/listener_queue.h"
#include "engine/stations/media_address.h"
#include "engine/pipeline/network_health.h"
#include "engine/pipeline/pipeline.h"
#include "playback/player.h"
#include "playback/player_settings.h"
#include "engine/player/playbin_session.h"
#include "engine/player/reconnect_policy.h"
#include "engine/runtime/state_worker.h"
#include "engine/runtime/ui_thread.h"

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
    std::int32_t playState() const override { return events_.state(); }
    std::string status() const override { return events_.status(); }
    void setListener(playback::PlayerListener* listener) override { events_.setListener(listener); }
    playback::MediaDetails mediaDetails() const override;
    int volume() const override { return settings_.volume; }
    void setVolume(int percent) override;

  private:
    using Clock = std::chrono::steady_clock;
    enum class Intent { Stop, Pause, Play };

    using Session = PlaybinSession;
    using Ending = SessionEnding;

    // How often the user-interface thread looks at a network stream.
    static constexpr int kWatchdogPeriodMs = 100;

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
    bool checkStall(const NetworkHealth::Look& look);
    std::int64_t soundAheadNs() const;
    void checkStarvation(const NetworkHealth::Look& look);
    void loseConnection();
    void fail(const Failure& failure);
    bool isLive() const;

    void setStatus(std::int32_t state, std::string text) {
        events_.setStatus(state, std::move(text));
    }
    void resetRecovery();
    static std::int64_t steadyNowMs();

    playback::PlayerSettings settings_;
    EngineOptions options_;
    UiPost post_;

    MediaAddress address_;
    Intent intent_ = Intent::Stop;
    int playsDone_ = 0;
    ListenerQueue events_;

    // What a run of reconnects keeps from one session to the next.
    struct Recovery {
        explicit Recovery(ReconnectLimits limits) : policy(limits) {}
        ReconnectPolicy policy;
        bool reconnecting = false;
        std::int64_t resumeAtNs = -1;  // where a file resumes after a drop
        bool rangeIgnored = false;     // the server sends a file whole, from its start
        std::uint64_t skipBytes = 0;   // so a resumed download skips what arrived
    };
    Recovery recovery_;

    StateWorker stateWorker_;  // outlives every session's pipeline
    std::unique_ptr<Session> session_;
    UiTimer reconnectTimer_;
    UiTimer watchdog_;
    std::unique_ptr<HostDiagnosis> diagnosis_;
};

}  // namespace velmora::engine
