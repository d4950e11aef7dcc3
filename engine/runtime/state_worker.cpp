#include "engine/runtime/state_worker.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "engine/runtime/debug_category.h"
#include "engine/runtime/gst_handles.h"

namespace velmora::engine {
namespace {

using Clock = std::chrono::steady_clock;

// How often a retirement that waits looks again.
constexpr std::chrono::milliseconds kBusyPoll{10};

// An element that refuses a state change is meant to post an ERROR saying
// why, but not every one does, and a refusal nobody hears leaves the player
// waiting for a state that never comes. An element that did say why posted
// its ERROR inside the state change, ahead of this one, and the player acts
// on the first ERROR of an opening only.
void reportRefusal(GstElement* pipeline, GstState state) {
    ErrorPtr error(g_error_new(GST_CORE_ERROR, GST_CORE_ERROR_STATE_CHANGE,
                               "the pipeline refused to go to %s",
                               gst_element_state_get_name(state)));
    gst_element_post_message(pipeline,
                             gst_message_new_error(GST_OBJECT(pipeline), error.get(), nullptr));
}

struct Job {
    GstPtr<GstElement> pipeline;
    GstState state = GST_STATE_NULL;
    bool retire = false;
    std::function<bool()> busy;  // a retirement waits while it says so
    Clock::time_point waitsUntil;

    bool ready(Clock::time_point now) const { return !busy || now >= waitsUntil || !busy(); }
};

}  // namespace

// Everything a worker thread touches: a thread given up to a stuck pipeline
// keeps it alive, and finds on its return that it no longer serves the queue.
struct StateWorker::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable drained;
    std::deque<Job> jobs;
    std::function<bool()> spareWork;
    std::chrono::milliseconds stuckBound{0};
    bool stopping = false;
    int generation = 0;  // of the thread that serves the queue
    bool busy = false;   // that thread is in a state change
    Clock::time_point busySince;
    int abandoned = 0;
    ThreadKeeper::Id thread = 0;  // the one that serves the queue

    void run(int serving);
};

void StateWorker::Shared::run(int serving) {
    std::unique_lock lock(mutex);
    while (generation == serving) {
        if (jobs.empty() && spareWork && !stopping) {
            // Taken out while it runs, and put back with what it did: the work
            // keeps its own place, which a copy would not.
            std::function<bool()> work = std::exchange(spareWork, nullptr);
            lock.unlock();
            const bool more = work();
            lock.lock();
            if (more && generation == serving) {
                spareWork = std::move(work);
            }
            continue;
        }
        if (jobs.empty()) {
            if (stopping) {
                break;  // nothing left to wind down
            }
            wake.wait(lock);
            continue;
        }
        const Clock::time_point now = Clock::now();
        const auto next =
            std::find_if(jobs.begin(), jobs.end(), [&](const Job& job) { return job.ready(now); });
        if (next == jobs.end()) {
            wake.wait_for(lock, kBusyPoll);  // bounded: every wait ends at its waitsUntil
            continue;
        }
        Job job = std::move(*next);
        jobs.erase(next);
        if (job.busy && now >= job.waitsUntil && job.busy()) {
            GST_CAT_WARNING(debugCategory(),
                            "a pipeline still busy after %lld ms is taken down all the same",
                            static_cast<long long>(StateWorker::kRetireWaitBound.count()));
        }
        busy = true;
        busySince = Clock::now();
        lock.unlock();
        if (gst_element_set_state(job.pipeline.get(), job.state) == GST_STATE_CHANGE_FAILURE &&
            !job.retire) {
            reportRefusal(job.pipeline.get(), job.state);
        }
        job.pipeline.reset();
        lock.lock();
        if (generation != serving) {
            break;  // given up while in the change: another thread serves the queue
        }
        busy = false;
        drained.notify_all();  // the destructor looks at what is left
    }
}

StateWorker::StateWorker(ThreadKeeper& threads, std::function<bool()> spareWork,
                         std::chrono::milliseconds stuckBound)
    : threads_(threads), shared_(std::make_shared<Shared>()) {
    shared_->spareWork = std::move(spareWork);
    shared_->stuckBound = stuckBound;
    // The thread holds the queue alive for as long as it runs, given up or not.
    shared_->thread = threads_.start([keep = shared_] { keep->run(0); });
}

StateWorker::~StateWorker() {
    std::unique_lock lock(shared_->mutex);
    shared_->stopping = true;
    shared_->wake.notify_all();
    // A retirement still waiting (see retire) is no reason to hold the
    // caller: the thread finishes it on its own.
    const auto onlyWaiting = [this] {
        const Clock::time_point now = Clock::now();
        return !shared_->busy && std::none_of(shared_->jobs.begin(), shared_->jobs.end(),
                                              [&](const Job& job) { return job.ready(now); });
    };
    shared_->drained.wait_for(lock, kShutdownBound, onlyWaiting);
    const ThreadKeeper::Id thread = shared_->thread;
    if (shared_->jobs.empty() && !shared_->busy) {
        lock.unlock();
        threads_.join(thread, kShutdownBound);  // it has nothing left to do
        return;
    }
    // The thread winds the rest down on its own, holding what it needs, and
    // the keeper joins it when it is done.
    const int left = static_cast<int>(shared_->jobs.size()) + (shared_->busy ? 1 : 0);
    if (onlyWaiting()) {
        GST_CAT_DEBUG(debugCategory(), "%d retirements left waiting on their own", left);
        return;
    }
    shared_->abandoned += left;
    GST_CAT_WARNING(debugCategory(),
                    "%d pipelines not down within %lld ms of shutdown are left to wind down "
                    "on their own (%d so far)",
                    left, static_cast<long long>(kShutdownBound.count()), shared_->abandoned);
}

void StateWorker::replaceStuckThread() {
    Shared& shared = *shared_;
    if (!shared.busy || Clock::now() - shared.busySince < shared.stuckBound) {
        return;
    }
    ++shared.abandoned;
    ++shared.generation;
    shared.busy = false;
    // The keeper joins the given-up thread if its change ever returns.
    shared.thread =
        threads_.start([keep = shared_, serving = shared.generation] { keep->run(serving); });
    GST_CAT_WARNING(debugCategory(),
                    "a pipeline did not reach its state within %lld ms: abandoned (%d so far)",
                    static_cast<long long>(shared.stuckBound.count()), shared.abandoned);
}

void StateWorker::request(GstElement* pipeline, GstState state) {
    std::lock_guard lock(shared_->mutex);
    replaceStuckThread();
    auto& jobs = shared_->jobs;
    const auto pending = std::find_if(jobs.begin(), jobs.end(), [&](const Job& job) {
        return job.pipeline.get() == pipeline && !job.retire;
    });
    if (pending != jobs.end()) {
        pending->state = state;
        return;
    }
    jobs.push_back(
        {GstPtr<GstElement>(GST_ELEMENT(gst_object_ref(pipeline))), state, false, {}, {}});
    shared_->wake.notify_all();
}

void StateWorker::retire(GstElement* pipeline, std::function<bool()> busy) {
    std::lock_guard lock(shared_->mutex);
    replaceStuckThread();
    std::erase_if(shared_->jobs, [&](const Job& job) { return job.pipeline.get() == pipeline; });
    shared_->jobs.push_back({GstPtr<GstElement>(GST_ELEMENT(gst_object_ref(pipeline))),
                             GST_STATE_NULL, true, std::move(busy),
                             Clock::now() + kRetireWaitBound});
    shared_->wake.notify_all();
}

int StateWorker::abandoned() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->abandoned;
}

}  // namespace velmora::engine
