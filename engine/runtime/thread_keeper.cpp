#include "engine/runtime/thread_keeper.h"

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace velmora::engine {

ThreadKeeper::~ThreadKeeper() {
    if (joinAll(kLastWait) > 0) {
        std::fputs("velmora: a thread is still running at its keeper's end\n", stderr);
        std::abort();
    }
}

ThreadKeeper::Id ThreadKeeper::start(std::function<void()> work) {
    std::unique_lock lock(mutex_);
    joinDoneLocked(lock);
    const Id id = nextId_++;
    // Entered before the thread can finish, so that its end always finds it.
    Entry& entry = threads_[id];
    entry.thread = std::thread([this, id, work = std::move(work)] {
        work();
        std::lock_guard done(mutex_);
        threads_.at(id).done = true;
        finished_.notify_all();
    });
    return id;
}

bool ThreadKeeper::join(Id id, std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    const bool done = finished_.wait_for(lock, bound, [&] {
        const auto found = threads_.find(id);
        return found == threads_.end() || found->second.done;
    });
    joinDoneLocked(lock);
    return done;
}

std::size_t ThreadKeeper::joinAll(std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    finished_.wait_for(lock, bound, [&] {
        for (const auto& [id, entry] : threads_) {
            if (!entry.done) {
                return false;
            }
        }
        return true;
    });
    joinDoneLocked(lock);
    return threads_.size();
}

// A done thread has only its last unlock left to run, so joining it is at
// once; it is joined outside the lock all the same, which that unlock needs.
void ThreadKeeper::joinDoneLocked(std::unique_lock<std::mutex>& lock) {
    std::vector<std::thread> done;
    for (auto entry = threads_.begin(); entry != threads_.end();) {
        if (entry->second.done) {
            done.push_back(std::move(entry->second.thread));
            entry = threads_.erase(entry);
        } else {
            ++entry;
        }
    }
    lock.unlock();
    for (std::thread& thread : done) {
        thread.join();
    }
    lock.lock();
}

}  // namespace velmora::engine
