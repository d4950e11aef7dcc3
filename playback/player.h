#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::playback {

// Play-state codes as the player reports them. The transport rules act only on
// Stopped, Paused and Playing; every other code matches no rule.
namespace play_state {
inline constexpr std::int32_t Undefined = 0;
inline constexpr std::int32_t Stopped = 1;
inline constexpr std::int32_t Paused = 2;
inline constexpr std::int32_t Playing = 3;
inline constexpr std::int32_t MediaEnded = 8;
inline constexpr std::int32_t Transitioning = 9;
inline constexpr std::int32_t Buffering = 6;
inline constexpr std::int32_t Reconnecting = 11;
}  // namespace play_state

// The transport commands. Each returns without waiting for the player to reach
// the state it asked for; a failing command throws PlayerError.
class PlayerControls {
  public:
    virtual ~PlayerControls() = default;
    virtual void play() = 0;  // resume, or start again after stop or end
    virtual void stop() = 0;
    virtual void pause() = 0;
};

// Receives the player's events on the user-interface thread, one at a time.
// A listener must not destroy the player from inside a callback.
class PlayerListener {
  public:
    virtual ~PlayerListener() = default;
    // status() or playState() changed.
    virtual void onStatusChange() = 0;
    // The media's address is at fault (bad URL, host, server reply, content).
    virtual void onWarning(std::int32_t warningType, std::int32_t param,
                           const std::string& description) = 0;
    // The player itself is at fault (no decoder, no audio output, internal error).
    virtual void onMediaError() = 0;
    // mediaDetails() changed: a new title, a length now known. Only the
    // desktop's media controls care; by default nobody does.
    virtual void onMediaChange() {}
};

// What is playing, for the desktop's media controls. Empty or absent when
// the player does not know.
struct MediaDetails {
    std::string url;                       // the address as the player opened it
    std::string title;                     // the stream's current title
    std::string stationName;               // a radio station's own name
    std::optional<std::int64_t> lengthUs;  // files of known length only
};

// The media player component. Called only from the user-interface thread;
// no call waits for the network. Text is UTF-8.
class Player {
  public:
    virtual ~Player() = default;

    // Opens the media and, with autoStart on, starts it by itself. An empty
    // URL stops whatever plays.
    virtual void setURL(std::string_view url) = 0;

    // The transport commands; valid for the player's lifetime.
    virtual PlayerControls& controls() = 0;

    // Read afresh on every call: the state may change between two reads.
    virtual std::int32_t playState() const = 0;
    virtual std::string status() const = 0;

    // Read afresh on every call, like the state.
    virtual MediaDetails mediaDetails() const = 0;

    // Loudness 0..100, as in PlayerSettings; a change applies at once and to
    // media opened later.
    virtual int volume() const = 0;
    virtual void setVolume(int percent) = 0;

    // At most one listener; nullptr detaches it. The listener must outlive
    // the player or be detached first.
    virtual void setListener(PlayerListener* listener) = 0;
};

}  // namespace velmora::playback
