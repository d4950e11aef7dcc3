#include "engine/runtime/state_worker.h"

#include <algorithm>
#include <utility>

namespace velmora::engine {
namespace {

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

}  // namespace

StateWorker::StateWorker(std::function<bool()> spareWork)
    : spareWork_(std::move(spareWork)), thread_([this] { run(); }) {}

StateWorker::~StateWorker() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    wake_.notify_one();
    if (!drained_.wait_for(lock, kShutdownBound, [this] { return jobs_.empty() && !busy_; })) {
        g_warning("velmora: pipelines still winding down after %lld ms",
                  static_cast<long long>(kShutdownBound.count()));
    }
    lock.unlock();
    thread_.join();
}

void StateWorker::request(GstElement* pipeline, GstState state) {
    std::lock_guard lock(mutex_);
    const auto pending = std::find_if(jobs_.begin(), jobs_.end(), [&](const Job& job) {
        return job.pipeline.get() == pipeline && !job.retire;
    });
    if (pending != jobs_.end()) {
        pending->state = state;
        return;
    }
    jobs_.push_back({GstPtr<GstElement>(GST_ELEMENT(gst_object_ref(pipeline))), state, false});
    wake_.notify_one();
}

void StateWorker::retire(GstElement* pipeline) {
    std::lock_guard lock(mutex_);
    std::erase_if(jobs_, [&](const Job& job) { return job.pipeline.get() == pipeline; });
    jobs_.push_back(
        {GstPtr<GstElement>(GST_ELEMENT(gst_object_ref(pipeline))), GST_STATE_NULL, true});
    wake_.notify_one();
}

void StateWorker::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        if (jobs_.empty() && spareWork_ && !stopping_) {
            lock.unlock();
            const bool more = spareWork_();
            lock.lock();
            if (!more) {
                spareWork_ = nullptr;
            }
            continue;
        }
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) {
            break;  // stopping, and nothing left to wind down
        }
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        lock.unlock();
        if (gst_element_set_state(job.pipeline.get(), job.state) == GST_STATE_CHANGE_FAILURE &&
            !job.retire) {
            reportRefusal(job.pipeline.get(), job.state);
        }
        job.pipeline.reset();
        lock.lock();
        busy_ = false;
        if (jobs_.empty()) {
            drained_.notify_all();
        }
    }
}

}  // namespace velmora::engine
