#include "engine/stations/playlist_fetch.h"

#include <gst/app/gstappsink.h>

#include <mutex>
#include <optional>
#include <utility>

#include "engine/network/error_mapping.h"
#include "engine/network/http_source.h"
#include "engine/runtime/element_factory.h"

namespace velmora::engine {

struct PlaylistFetch::Received {
    std::mutex mutex;
    std::string body;
};

namespace {

GstFlowReturn onSample(GstAppSink* sink, gpointer data) {
    auto& received = **static_cast<std::shared_ptr<PlaylistFetch::Received>*>(data);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (sample == nullptr) {
        return GST_FLOW_EOS;
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    bool full = false;
    if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        std::lock_guard lock(received.mutex);
        const std::size_t room = PlaylistFetch::kMaxBodyBytes - received.body.size();
        received.body.append(reinterpret_cast<const char*>(map.data), std::min(room, map.size));
        full = received.body.size() == PlaylistFetch::kMaxBodyBytes;
        gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    // Ending the flow here makes the source stop reading and end the stream.
    return full ? GST_FLOW_EOS : GST_FLOW_OK;
}

}  // namespace

PlaylistFetch::PlaylistFetch(const std::string& uri, MainContext& context, StateWorker& worker,
                             const std::shared_ptr<HttpSession>& http, Done done)
    : received_(std::make_shared<Received>()),
      finalUri_(uri),
      done_(std::move(done)),
      timeout_(context),
      worker_(worker) {
    GstPtr<GstElement> pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    GstElement* source = makeElement("souphttpsrc");
    GstElement* sink = makeElement("appsink");
    configureHttpSource(source);
    g_object_set(source, "location", uri.c_str(), nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onSample;
    gst_app_sink_set_callbacks(
        GST_APP_SINK(sink), &callbacks, new std::shared_ptr<Received>(received_),
        [](gpointer data) { delete static_cast<std::shared_ptr<Received>*>(data); });
    gst_bin_add_many(GST_BIN(pipeline.get()), source, sink, nullptr);
    gst_element_link(source, sink);
    GstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
    http->lend(pipeline.get());
    HttpSession::watch(bus.get(), http);
    requests_->watch(source);
    busWatch_ = std::make_unique<BusWatch>(bus.get(), context,
                                           [this](GstMessage* message) { onMessage(message); });
    worker_.request(pipeline.get(), GST_STATE_PLAYING);
    pipeline_ = std::move(pipeline);
    timeout_.arm(kTimeoutMs, [this] { finish(FetchedBody::Outcome::TimedOut); });
}

PlaylistFetch::~PlaylistFetch() { tearDown(); }

void PlaylistFetch::tearDown() {
    timeout_.disarm();
    busWatch_.reset();
    if (pipeline_) {
        worker_.retire(pipeline_.get(), [requests = requests_] { return requests->underWay(); });
        pipeline_.reset();
    }
}

void PlaylistFetch::onMessage(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS: {
            bool tooLarge = false;
            {
                std::lock_guard lock(received_->mutex);
                tooLarge = received_->body.size() == kMaxBodyBytes;
            }
            finish(tooLarge ? FetchedBody::Outcome::TooLarge : FetchedBody::Outcome::Complete);
            break;
        }
        case GST_MESSAGE_ERROR:
            finish(FetchedBody::Outcome::Failed);
            break;
        case GST_MESSAGE_ELEMENT:
            if (const std::optional<HttpAnswer> answer = readHttpAnswer(message);
                answer && !answer->redirectedTo.empty()) {
                finalUri_ = answer->redirectedTo;
            }
            break;
        default:
            break;
    }
}

void PlaylistFetch::finish(FetchedBody::Outcome outcome) {
    if (!done_) {
        return;
    }
    tearDown();
    FetchedBody result{outcome, {}, std::move(finalUri_)};
    if (outcome == FetchedBody::Outcome::Complete || outcome == FetchedBody::Outcome::TooLarge) {
        std::lock_guard lock(received_->mutex);
        result.body = std::move(received_->body);
    }
    // Last: done may destroy this fetch.
    std::exchange(done_, nullptr)(std::move(result));
}

}  // namespace velmora::engine
