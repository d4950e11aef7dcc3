#include "engine/network/http_source.h"

#include <cstring>

#include "engine/runtime/debug_category.h"
#include "engine/runtime/gst_handles.h"

namespace velmora::engine {
namespace {

constexpr char kUserAgent[] = "Velmora/2.3.3";
// souphttpsrc retries a broken connection itself before it fails, resuming a
// file with Range where the server allows it.
constexpr int kSourceRetries = 1;
constexpr char kSessionContext[] = "gst.soup.session";

}  // namespace

bool configureHttpSource(GstElement* source) {
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(source), "ssl-strict") == nullptr) {
        return false;  // not souphttpsrc
    }
    g_object_set(source, "retries", kSourceRetries, "ssl-strict", TRUE, "user-agent", kUserAgent,
                 nullptr);
    return true;
}

HttpSession::~HttpSession() {
    if (context_ != nullptr) {
        gst_context_unref(context_);
    }
}

void HttpRequests::watch(GstElement* source) {
    sent_.fetch_add(1);
    GstPtr<GstPad> pad(gst_element_get_static_pad(source, "src"));
    if (!pad) {
        return;
    }
    // The first buffer comes once souphttpsrc holds the answer's stream; a
    // failed request ends in an end-of-stream.
    gst_pad_add_probe(
        pad.get(),
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                     GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        [](GstPad*, GstPadProbeInfo* info, gpointer data) {
            auto& requests = **static_cast<std::shared_ptr<HttpRequests>*>(data);
            if ((info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) == 0 ||
                GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) {
                requests.answered_.store(requests.sent_.load());
            }
            return GST_PAD_PROBE_OK;
        },
        new std::shared_ptr<HttpRequests>(shared_from_this()),
        [](gpointer data) { delete static_cast<std::shared_ptr<HttpRequests>*>(data); });
}

void HttpSession::watch(GstBus* bus, const std::shared_ptr<HttpSession>& share) {
    gst_bus_set_sync_handler(
        bus,
        [](GstBus*, GstMessage* message, gpointer data) {
            if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_HAVE_CONTEXT) {
                (*static_cast<std::shared_ptr<HttpSession>*>(data))->offer(message);
            }
            return GST_BUS_PASS;
        },
        new std::shared_ptr<HttpSession>(share),
        [](gpointer data) { delete static_cast<std::shared_ptr<HttpSession>*>(data); });
}

void HttpSession::offer(GstMessage* message) {
    GstContext* context = nullptr;
    gst_message_parse_have_context(message, &context);
    if (context == nullptr) {
        return;
    }
    if (std::strcmp(gst_context_get_context_type(context), kSessionContext) != 0) {
        gst_context_unref(context);
        return;
    }
    std::lock_guard lock(mutex_);
    if (context_ != nullptr) {
        // Two sources started before either offered: the later one's
        // session ends with its source, as souphttpsrc's own would.
        gst_context_unref(context);
        return;
    }
    context_ = context;
    GST_CAT_DEBUG(debugCategory(), "one http session for every request from now on");
}

void HttpSession::lend(GstElement* pipeline) const {
    std::lock_guard lock(mutex_);
    if (context_ != nullptr) {
        gst_element_set_context(pipeline, context_);
    }
}

}  // namespace velmora::engine
