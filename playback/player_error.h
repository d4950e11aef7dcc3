#pragma once

#include <stdexcept>
#include <string>

namespace velmora::playback {

// A call on the player or on a control failed. what() is a complete sentence
// in the user's language, fit to be shown to the user as it stands.
class PlayerError : public std::runtime_error {
  public:
    explicit PlayerError(const std::string& userMessage) : std::runtime_error(userMessage) {}
};

}  // namespace velmora::playback
