#pragma once

#include <gst/gst.h>

#include <optional>
#include <string>

#include "engine/network/error_mapping.h"

namespace velmora::engine {

// What one opening's stream told of itself on its way in: the server's answer
// (status, redirect, length, station), the decoders it lacked, whether it
// ignored a range, and its title. Read from the pipeline's bus messages; the
// details the player shows and the facts a failure is judged by.
class StreamFacts {
  public:
    // What a message changed that the session's owner hears of.
    struct News {
        bool details = false;  // the station, its name or the title
        bool title = false;
        bool length = false;  // the answer said whether the stream has a length
    };

    // An element message of the source or of the decoders; nothing when it
    // is neither.
    std::optional<News> readElement(GstMessage* message);
    News readTags(GstMessage* message);
    // souphttpsrc's own resume asked for a range, and the server ignored it.
    void noteRangeIgnored() { rangeIgnored_ = true; }
    // What these facts add to a pipeline error's.
    void addTo(ErrorFacts& facts) const;

    // No value until an answer said whether the stream has a length.
    std::optional<bool> hasLength() const { return hasLength_; }
    const std::string& redirectedTo() const { return redirectedTo_; }
    bool rangeIgnored() const { return rangeIgnored_; }
    const std::string& title() const { return title_; }
    const std::string& stationName() const { return stationName_; }
    // A radio station that sent no name the player can read.
    bool unnamedStation() const { return station_ && stationName_.empty(); }

  private:
    News readAnswer(const HttpAnswer& answer);

    std::optional<bool> hasLength_;
    int httpStatus_ = 0;
    std::string redirectedTo_;
    bool rangeIgnored_ = false;
    bool contentNotAudio_ = false;
    bool decoderMissing_ = false;
    std::string title_;
    std::string stationName_;
    bool station_ = false;
};

}  // namespace velmora::engine
