#pragma once

// What the engine's pipeline tests share.

#include <sys/types.h>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/player/engine_options.h"
#include "engine/test_outputs/test_outputs.h"
#include "playback/player.h"

namespace velmora::engine::testing {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The loopback HTTP stream server (tools/stream_server), started for one test process.
class StreamServer {
  public:
    StreamServer();  // waits until it listens; fails the test when it cannot start
    ~StreamServer();
    StreamServer(const StreamServer&) = delete;
    StreamServer& operator=(const StreamServer&) = delete;

    std::string url(const std::string& path) const;           // http://127.0.0.1:PORT/path
    std::string tlsUrl(const std::string& path) const;        // behind a certificate no one trusts
    static int closedPort();                                  // a port nothing listens on
    static std::string mediaFile(const std::string& prefix);  // a cached MP3 by name prefix
    void kill();                                              // stops the server at once
    // A plain answer's lines; /requests?log=key: the Range header of each
    // request tagged log=key, in order, "-" for none.
    std::vector<std::string> lines(const std::string& path) const;

  private:
    void start();

    pid_t pid_ = -1;
    int port_ = 0;
    int tlsPort_ = 0;
};

// One thing the player told its listener.
struct PlayerEvent {
    enum class Kind { Status, Warning, MediaError };
    Kind kind;
    std::int32_t state = 0;  // Status: playState() when it was raised
    std::string status;      // Status: status(); Warning: the description
    std::int32_t warningType = 0;
    Clock::time_point at;
};

class RecordingListener : public playback::PlayerListener {
  public:
    explicit RecordingListener(playback::Player& player) : player_(player) {}

    void onStatusChange() override;
    void onWarning(std::int32_t warningType, std::int32_t /*param*/,
                   const std::string& description) override;
    void onMediaError() override;

    const std::vector<PlayerEvent>& events() const { return events_; }
    std::vector<std::int32_t> states() const;  // one per StatusChange
    std::vector<PlayerEvent> notices() const;  // Warning and MediaError
    bool sawStatus(const std::string& status) const;

  private:
    playback::Player& player_;
    std::vector<PlayerEvent> events_;
};

// Decoded sound as the capturing sink plays it (first channel only).
class SoundCapture {
  public:
    AudioOutputFactory output() const { return capture_.output(); }
    std::size_t frameCount() const;
    // The share of the power of the last `seconds` of sound that lies at
    // `frequencyHz` (Goertzel), 0..1; 0 when less was captured.
    double toneShare(double frequencyHz, double seconds) const;
    // The longest silence heard since the first sound, up to now: quiet samples, and the
    // time the sink waited past the end of one block for the next one.
    Clock::duration longestSilence() const;

  private:
    void add(const PcmBlock& block);  // on a streaming thread

    mutable std::mutex mutex_;
    std::vector<std::int16_t> samples_;
    int rateHz_ = 0;
    // The sink renders each block when it is due: its arrival is when it is heard.
    Clock::time_point soundEnd_;
    std::optional<Clock::time_point> silentSince_;
    Clock::duration longestSilence_{};
    // Last, so that it is cut off before what add() uses is gone.
    PcmCapture capture_{[this](const PcmBlock& block) { add(block); }};
};

// Runs the main loop (and the test's own post queue, when it has one) until
// the condition holds or the time is up.
bool runUntil(const std::function<bool()>& condition, Clock::duration timeout);
void runFor(Clock::duration duration);

// Starts args[0]; what it prints goes to stdoutFd, or nowhere.
pid_t spawn(std::vector<std::string> args, int stdoutFd = -1);
// Waits for pid to end within timeout, then kills it; its exit code, or -1.
int reap(pid_t pid, Clock::duration timeout);
// A loopback socket listening on a port of its own, which it sets; nothing accepts on it.
int listeningLoopback(int& port);

// A main context of the test's own, which runUntil and runFor iterate beside
// the default one: for the tests that prove the engine runs on the context it
// is given, not on GLib's default one.
GMainContext* privateContext();

}  // namespace velmora::engine::testing
