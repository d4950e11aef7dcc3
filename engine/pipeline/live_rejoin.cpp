#include "engine/pipeline/live_rejoin.h"
#include "engine/runtime/debug_category.h"

#include <glib.h>

#include <utility>

namespace velmora::engine {

struct LiveRejoin::State {
    std::string uri;
    std::shared_ptr<SourceProgress> progress;
    std::atomic<bool> allowed{false};
    std::atomic<std::uint64_t> joinedAtBytes{0};
    std::atomic<int> count{0};
};

namespace {

// playbin asks on a streaming thread, once the current connection's data
// has all been decoded; a URI set here is played next, without a gap.
void onAboutToFinish(GstElement* playbin, gpointer data) {
    LiveRejoin::State& state = **static_cast<std::shared_ptr<LiveRejoin::State>*>(data);
    const std::uint64_t bytes = state.progress->bytes;
    if (!state.allowed || bytes - state.joinedAtBytes < LiveRejoin::kEarnedAfterBytes) {
        return;  // the stream ends here, and the session sees why
    }
    state.joinedAtBytes = bytes;
    state.progress->rejoins.fetch_add(1);  // the end the source just sent is not the stream's
    const int count = ++state.count;
    GST_CAT_DEBUG(debugCategory(),
                  "the server closed a live stream after %" G_GUINT64_FORMAT
                  " bytes; joining it again (%d)",
                  bytes, count);
    g_object_set(playbin, "uri", state.uri.c_str(), nullptr);
    gst_element_post_message(
        playbin, gst_message_new_application(GST_OBJECT_CAST(playbin),
                                             gst_structure_new(LiveRejoin::kJoinedMessage, "count",
                                                               G_TYPE_INT, count, nullptr)));
}

}  // namespace

LiveRejoin::LiveRejoin(GstElement* playbin, std::string uri,
                       std::shared_ptr<SourceProgress> progress)
    : state_(std::make_shared<State>()) {
    state_->uri = std::move(uri);
    state_->progress = std::move(progress);
    g_signal_connect_data(
        playbin, "about-to-finish", G_CALLBACK(onAboutToFinish), new std::shared_ptr<State>(state_),
        [](gpointer data, GClosure*) { delete static_cast<std::shared_ptr<State>*>(data); },
        GConnectFlags(0));
}

void LiveRejoin::allow(bool allowed) { state_->allowed = allowed; }

}  // namespace velmora::engine
