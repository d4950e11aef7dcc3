#pragma once

#include <string>

namespace velmora::engine {

// What fetching a playlist's address gave.
struct FetchedBody {
    enum class Outcome {
        Complete,  // the whole body, within the size limit
        TooLarge,  // cut at the limit: no playlist is that long
        Failed,    // no answer, or an error answer
        TimedOut,
    };
    Outcome outcome = Outcome::Failed;
    std::string body;      // Complete and TooLarge
    std::string finalUri;  // where the body came from after redirects
};

}  // namespace velmora::engine
