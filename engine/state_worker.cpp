#include "state_worker.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace velmora::engine {

struct StateWorker::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    GstPtr<GstElement> pipeline;
    GstState wanted = GST_STATE_VOID_PENDING;
    GstState applied = GST_STATE_VOID_PENDING;
    bool retired = false;

    void run() {
        std::unique_lock lock(mutex);
        while (true) {
            wake.wait(lock, [this] { return retired || wanted != applied; });
            if (retired) {
                break;
            }
            const GstState state = wanted;
            lock.unlock();
            gst_element_set_state(pipeline.get(), state);
            lock.lock();
            applied = state;
        }
        lock.unlock();
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        pipeline.reset();
    }
};

StateWorker::StateWorker(GstElement* pipeline) : shared_(std::make_shared<Shared>()) {
    shared_->pipeline.reset(GST_ELEMENT(gst_object_ref(pipeline)));
    // The thread owns what it uses: it outlives the worker when retiring.
    std::thread([shared = shared_] { shared->run(); }).detach();
}

StateWorker::~StateWorker() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->retired = true;
    }
    shared_->wake.notify_one();
}

void StateWorker::request(GstState state) {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->wanted = state;
    }
    shared_->wake.notify_one();
}

}  // namespace velmora::engine
