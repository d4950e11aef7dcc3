#pragma once

#include <glib.h>

namespace velmora::engine {

// GIO dispatches an asynchronous call's callback, and a D-Bus signal
// subscription's, on the thread-default context of the thread that started
// it, so every such call starts inside one.
class ThreadDefault {
  public:
    explicit ThreadDefault(GMainContext* context) : context_(context) {
        g_main_context_push_thread_default(context_);
    }
    ~ThreadDefault() { g_main_context_pop_thread_default(context_); }
    ThreadDefault(const ThreadDefault&) = delete;
    ThreadDefault& operator=(const ThreadDefault&) = delete;

  private:
    GMainContext* context_;
};

}  // namespace velmora::engine
