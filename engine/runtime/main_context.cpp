#include "engine/runtime/main_context.h"

#include <algorithm>
#include <utility>

namespace velmora::engine {
namespace {

using Callback = std::function<bool()>;

gboolean runCallback(gpointer data) {
    return (*static_cast<Callback*>(data))() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

class SourceShot final : public Timers::Shot {
  public:
    explicit SourceShot(GSource* source) : source_(source) {}
    ~SourceShot() override {
        // A source that is dispatching keeps its callback alive until it returns.
        g_source_destroy(source_);
        g_source_unref(source_);
    }

  private:
    GSource* source_;
};

}  // namespace

GSource* attachSource(GSource* source, GMainContext* context, std::function<bool()> callback) {
    g_source_set_callback(source, runCallback, new Callback(std::move(callback)),
                          [](gpointer data) { delete static_cast<Callback*>(data); });
    g_source_attach(source, context);
    return source;
}

MainContext::MainContext(GMainContext* context)
    : context_(g_main_context_ref(context != nullptr ? context : g_main_context_default())) {}

MainContext::~MainContext() { g_main_context_unref(context_); }

void MainContext::post(std::function<void()> task) const {
    // Idle sources of one priority run in the order they were attached.
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    attachSource(source, context_, [task = std::move(task)] {
        task();
        return false;
    });
    g_source_unref(source);
}

std::int64_t MainContext::nowMs() const { return g_get_monotonic_time() / 1000; }

std::unique_ptr<Timers::Shot> MainContext::start(int delayMs, std::function<void()> callback) {
    GSource* source = g_timeout_source_new(static_cast<guint>(std::max(0, delayMs)));
    attachSource(source, context_, [callback = std::move(callback)] {
        callback();
        return false;
    });
    return std::make_unique<SourceShot>(source);
}

std::unique_ptr<Timers::Shot> MainContext::every(int periodMs, std::function<void()> callback) {
    GSource* source = g_timeout_source_new(static_cast<guint>(std::max(1, periodMs)));
    attachSource(source, context_, [callback = std::move(callback)] {
        callback();
        return true;
    });
    return std::make_unique<SourceShot>(source);
}

}  // namespace velmora::engine
