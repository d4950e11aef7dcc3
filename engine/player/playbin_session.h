#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/pipeline/network_health.h"
#include "engine/pipeline/pipeline.h"

namespace velmora::engine {

// How far one opening got; a seek or a pause never takes it back.
enum class SessionPhase { Connecting, Prerolled, Playing };

// How an opening ends early: the first ERROR closes it (the errors and the
// end-of-stream that follow are its echoes), unless sound had arrived, which
// plays out first.
enum class SessionEnding { None, Failed, PlayingOut };

// One opening of the media: a pipeline and what its bus has shown so far.
// It lives from the player's openSession() to its closeSession(); a reconnect
// is a new session, and what carries over is the player's to hand in.
struct PlaybinSession {
    using Clock = std::chrono::steady_clock;

    std::unique_ptr<Pipeline> pipeline;
    SessionPhase phase = SessionPhase::Connecting;
    SessionEnding ending = SessionEnding::None;
    std::optional<bool> hasLength;  // false: a live stream with no end
    int httpStatus = 0;
    std::string redirectedTo;  // the last redirect's target
    bool contentNotAudio = false;
    bool decoderMissing = false;
    std::string title;
    std::string stationName;  // icy-name
    int startPercent = 0;
    NetworkHealth health{std::chrono::milliseconds::zero(), Clock::time_point{}};
    // A file resumed after a drop prerolls paused, seeks here, then plays;
    // the player's recovery decides where, this opening only carries it out.
    std::int64_t seekOnPrerollNs = -1;
    bool holdPaused = false;
    // What this opening's source drops from the start of a file sent whole.
    std::uint64_t skippedBytes = 0;
    Clock::time_point pausedAt;

    bool prerolled() const { return phase != SessionPhase::Connecting; }
    bool played() const { return phase == SessionPhase::Playing; }
    // The phase only moves forward; returns whether this was the first preroll.
    bool markPrerolled() {
        const bool first = phase == SessionPhase::Connecting;
        if (first) {
            phase = SessionPhase::Prerolled;
        }
        return first;
    }
    void markPlaying() { phase = SessionPhase::Playing; }
};

}  // namespace velmora::engine
