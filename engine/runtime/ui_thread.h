#pragma once

#include <functional>
#include <memory>

namespace velmora::engine {

// Runs a task on the user-interface thread, later, in the order posted. Must
// be callable from any thread.
using UiPost = std::function<void(std::function<void()>)>;

// Posts into GLib's default main context, which the user-interface thread
// iterates (Qt's GLib dispatcher, or a GMainLoop).
UiPost defaultUiPost();

// A single-shot timer whose callback runs on the user-interface thread through
// a UiPost. The wait runs on GStreamer's system clock, so it needs nothing of
// the dispatcher but the post. Used only on the user-interface thread; a timer
// that is cancelled, restarted or destroyed never calls its old callback.
class UiTimer {
  public:
    explicit UiTimer(UiPost post);
    ~UiTimer();
    UiTimer(const UiTimer&) = delete;
    UiTimer& operator=(const UiTimer&) = delete;

    void start(int delayMs, std::function<void()> callback);
    void cancel();
    bool active() const;

    struct Shot;  // one start's callback and clock wait

  private:
    UiPost post_;
    std::shared_ptr<Shot> shot_;
};

}  // namespace velmora::engine
