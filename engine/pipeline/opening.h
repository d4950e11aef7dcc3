#pragma once

#include <cstdint>
#include <string>

#include "engine/runtime/failure.h"

namespace velmora::engine {

// What one opening of the media is to do: the recovery decides it, the
// session carries it out.
struct Opening {
    std::string uri;
    bool network = true;
    // A file resumed after a drop prerolls paused, seeks here, then plays.
    std::int64_t seekOnPrerollNs = -1;
    // A file its server sends whole again: the bytes an earlier connection
    // delivered, dropped at the source.
    std::uint64_t skipBytes = 0;
    // Probe the host when the pipeline cannot tell why it failed to connect.
    // Not while reconnecting: the next attempt follows anyway.
    bool diagnose = true;
};

// How an opening ended before its media did. The session reports the facts;
// whether to try again, move on or give up is the recovery's to decide.
struct Break {
    enum class Cause {
        Error,          // the pipeline's first error, read into `failure`
        Deadline,       // a phase's deadline ran out without progress
        StreamEnded,    // a network stream ended: a live one, or one cut short
        NothingPlayed,  // the media ended before any sound: not audio
        // The machine woke from sleep or moved to another network: the
        // connection held, though silent about it, is presumed dead.
        NetworkBack,
    };
    Cause cause = Cause::Error;
    Failure failure;
    // A new connection may mend it: the error classifier's word, or the
    // session's for a deadline or a network stream's end.
    bool networkLoss = false;
    bool hadData = false;  // the source delivered bytes
    bool played = false;   // sound was heard
    bool live = true;      // no length: a radio stream
    std::int64_t positionNs = -1;
    std::uint64_t bytes = 0;  // all the source delivered, the skipped ones included
    std::uint64_t skippedBytes = 0;
    bool rangeIgnored = false;  // the server cannot resume a file mid-way
};

}  // namespace velmora::engine
