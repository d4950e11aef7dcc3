#include "engine/stations/candidate_list.h"

namespace velmora::engine {

void CandidateList::startPass() { *this = CandidateList(); }

bool CandidateList::canExpand(const Candidate& candidate) const {
    return candidate.depth < kMaxPlaylistDepth && !read_.contains(candidate.uri);
}

void CandidateList::insertNext(const std::vector<Candidate>& entries) {
    queue_.insert(queue_.begin() + static_cast<std::ptrdiff_t>(next_), entries.begin(),
                  entries.end());
}

std::optional<Candidate> CandidateList::takeNext() {
    if (next_ >= queue_.size() || triesInPass_ >= kMaxTriesPerPass) {
        return std::nullopt;
    }
    ++triesInPass_;
    return queue_[next_++];
}

}  // namespace velmora::engine
