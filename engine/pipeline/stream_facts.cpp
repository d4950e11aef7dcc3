#include "engine/pipeline/stream_facts.h"

#include <algorithm>
#include <utility>

namespace velmora::engine {

std::optional<StreamFacts::News> StreamFacts::readElement(GstMessage* message) {
    if (const std::optional<bool> audio = readMissingDecoder(message)) {
        (*audio ? decoderMissing_ : contentNotAudio_) = true;
        return News{};
    }
    if (const std::optional<HttpAnswer> answer = readHttpAnswer(message)) {
        return readAnswer(*answer);
    }
    return std::nullopt;
}

StreamFacts::News StreamFacts::readAnswer(const HttpAnswer& answer) {
    News news;
    if (!answer.redirectedTo.empty()) {
        redirectedTo_ = answer.redirectedTo;
    }
    if (answer.status > 0) {
        httpStatus_ = answer.status;
    }
    // An error page's length says nothing of the stream: a live station
    // whose mount answers "not found" while its source restarts is live.
    if (answer.hasLength && answer.status < 300) {
        hasLength_ = answer.hasLength;
        news.length = true;
    }
    if (answer.station && !station_) {
        station_ = true;
        news.details = true;
    }
    if (!answer.stationName.empty() && answer.stationName != stationName_) {
        stationName_ = answer.stationName;
        news.details = true;
    }
    return news;
}

StreamFacts::News StreamFacts::readTags(GstMessage* message) {
    std::optional<std::string> title = readStreamTitle(message);
    if (!title || *title == title_) {
        return {};
    }
    title_ = std::move(*title);
    return News{.details = true, .title = true};
}

void StreamFacts::addTo(ErrorFacts& facts) const {
    facts.httpStatus = std::max(facts.httpStatus, httpStatus_);
    facts.contentNotAudio = contentNotAudio_;
    facts.decoderMissing = decoderMissing_;
}

}  // namespace velmora::engine
