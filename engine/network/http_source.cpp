#include "engine/network/http_source.h"

namespace velmora::engine {
namespace {

constexpr char kUserAgent[] = "Velmora/2.3.3";
// souphttpsrc retries a broken connection itself before it fails, resuming a
// file with Range where the server allows it.
constexpr int kSourceRetries = 1;

}  // namespace

void configureHttpSource(GstElement* source, int networkTimeoutS) {
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(source), "ssl-strict") == nullptr) {
        return;  // not souphttpsrc
    }
    g_object_set(source, "timeout", static_cast<guint>(networkTimeoutS), "retries", kSourceRetries,
                 "ssl-strict", TRUE, "user-agent", kUserAgent, nullptr);
}

}  // namespace velmora::engine
