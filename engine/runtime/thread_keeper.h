#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace velmora::engine {

// Owns threads that may outlive the object that started them: a thread left
// in a state change that does not return, or one still winding a pipeline
// down when its player ends. Such a thread is joined as soon as it is done,
// and at the latest by joinAll at the program's end, which waits a bounded
// time; what is left then is the caller's to report before it exits without
// it. Create it before anything that starts threads through it.
class ThreadKeeper {
  public:
    using Id = std::uint64_t;

    // Longer than any wait a winding-down pipeline is given.
    static constexpr std::chrono::seconds kLastWait{20};

    ThreadKeeper() = default;
    // Joins what is left, waiting at most kLastWait; a thread still running
    // then ends the process with a message (destroying it would, without).
    // The program's end calls joinAll with a bound of its own first.
    ~ThreadKeeper();
    ThreadKeeper(const ThreadKeeper&) = delete;
    ThreadKeeper& operator=(const ThreadKeeper&) = delete;

    Id start(std::function<void()> work);
    // Joins the thread if it is done within the bound; otherwise it stays
    // with the keeper. True when joined.
    bool join(Id id, std::chrono::milliseconds bound);
    // Joins every thread that is done within the bound; answers how many are
    // still running.
    std::size_t joinAll(std::chrono::milliseconds bound);

  private:
    struct Entry {
        std::thread thread;
        bool done = false;
    };

    void joinDoneLocked(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable finished_;
    std::map<Id, Entry> threads_;
    Id nextId_ = 1;
};

}  // namespace velmora::engine
