#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velmora::engine {

// An address one request may try: the user's own, or a playlist's entry.
struct Candidate {
    std::string uri;
    std::string title;  // the playlist's title for it; empty for the user's own
    int depth = 0;      // playlists passed through to reach it
    bool operator==(const Candidate&) const = default;
};

// The addresses one request tries, in order, within its limits: nested
// playlists are followed kMaxPlaylistDepth deep, none is read twice in a
// pass, and a pass tries kMaxTriesPerPass entries at most, so that a list of
// thousands of dead entries ends like one.
class CandidateList {
  public:
    static constexpr int kMaxPlaylistDepth = 3;
    static constexpr int kMaxTriesPerPass = 10;

    // A new pass: nothing queued, nothing read, nothing tried.
    void startPass();
    // Whether the candidate may still be read as a playlist.
    bool canExpand(const Candidate& candidate) const;
    void markRead(const std::string& uri) { read_.insert(uri); }
    // A playlist's entries, tried before whatever was queued after it.
    void insertNext(const std::vector<Candidate>& entries);
    // The next one to try, counted as tried; nothing when the pass is over.
    std::optional<Candidate> takeNext();
    int triesInPass() const { return triesInPass_; }

  private:
    std::vector<Candidate> queue_;
    std::size_t next_ = 0;
    std::set<std::string> read_;  // playlists read in this pass: no cycles
    int triesInPass_ = 0;
};

}  // namespace velmora::engine
