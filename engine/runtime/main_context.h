#pragma once

#include <glib.h>

#include <functional>
#include <memory>

#include "engine/runtime/timers.h"

namespace velmora::engine {

// The GLib main context the engine lives on: the user-interface thread's. On
// Linux Qt's event loop iterates the default one; a test may hand in a private
// one and iterate it itself. Bus watches, timeouts and posted tasks are all
// sources on it, so they run in the one order GLib gives them.
class MainContext final : public Timers {
  public:
    // context null: GLib's default main context.
    explicit MainContext(GMainContext* context = nullptr);
    ~MainContext() override;
    MainContext(const MainContext&) = delete;
    MainContext& operator=(const MainContext&) = delete;

    GMainContext* get() const { return context_; }

    // Runs task later on the context's thread, after what was posted before.
    // May be called from any thread; never runs the task on the caller's.
    void post(std::function<void()> task) const;

    // Timers: GLib timeout sources on this context, monotonic time.
    std::int64_t nowMs() const override;
    std::unique_ptr<Shot> start(int delayMs, std::function<void()> callback) override;
    // Calls callback every periodMs until the shot is dropped.
    std::unique_ptr<Shot> every(int periodMs, std::function<void()> callback);

  private:
    GMainContext* context_;
};

// Attaches source to context with callback as its function, owned by the
// source; returns it. The callback's return value says whether to keep it.
GSource* attachSource(GSource* source, GMainContext* context, std::function<bool()> callback);

}  // namespace velmora::engine
