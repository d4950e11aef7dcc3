#include "engine/runtime/ui_thread.h"

#include <gst/gst.h>

#include <utility>

#include "engine/runtime/gst_handles.h"

namespace velmora::engine {

UiPost defaultUiPost() {
    return [](std::function<void()> task) {
        // g_idle_add attaches to the default context from any thread and never
        // runs the task on the caller's thread (g_main_context_invoke might).
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                (*static_cast<std::function<void()>*>(data))();
                return G_SOURCE_REMOVE;
            },
            new std::function<void()>(std::move(task)),
            [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    };
}

struct UiTimer::Shot {
    std::function<void()> callback;
    GstClockID clockId = nullptr;
};

namespace {

struct Wake {
    UiPost post;
    std::weak_ptr<UiTimer::Shot> shot;
};

}  // namespace

UiTimer::UiTimer(UiPost post) : post_(std::move(post)) {}

UiTimer::~UiTimer() { cancel(); }

void UiTimer::start(int delayMs, std::function<void()> callback) {
    cancel();
    auto shot = std::make_shared<Shot>();
    shot->callback = std::move(callback);
    GstPtr<GstClock> clock(gst_system_clock_obtain());
    shot->clockId = gst_clock_new_single_shot_id(
        clock.get(), gst_clock_get_time(clock.get()) + GstClockTime(delayMs) * GST_MSECOND);
    shot_ = shot;
    gst_clock_id_wait_async(
        shot->clockId,
        [](GstClock*, GstClockTime, GstClockID, gpointer data) -> gboolean {
            auto* wake = static_cast<Wake*>(data);
            // Only the user-interface thread may lock the weak pointer: the
            // last strong reference must never be dropped on the clock thread.
            wake->post([weak = wake->shot] {
                if (auto fired = weak.lock(); fired && fired->callback) {
                    auto callback = std::exchange(fired->callback, nullptr);
                    callback();
                }
            });
            return TRUE;
        },
        new Wake{post_, shot}, [](gpointer data) { delete static_cast<Wake*>(data); });
}

void UiTimer::cancel() {
    if (!shot_) {
        return;
    }
    gst_clock_id_unschedule(shot_->clockId);
    gst_clock_id_unref(shot_->clockId);
    shot_.reset();
}

bool UiTimer::active() const { return shot_ && shot_->callback; }

}  // namespace velmora::engine
