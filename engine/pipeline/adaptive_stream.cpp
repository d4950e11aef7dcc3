#include "engine/pipeline/adaptive_stream.h"

#include <cstring>

namespace velmora::engine {
namespace {

using ProgressRef = std::shared_ptr<SourceProgress>;

void deleteProgressRef(gpointer data) { delete static_cast<ProgressRef*>(data); }

bool isAdaptiveDemuxer(GstElement* element) {
    GstElementFactory* factory = gst_element_get_factory(element);
    const gchar* klass =
        factory == nullptr ? nullptr
                           : gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    return klass != nullptr && std::strstr(klass, "Demuxer/Adaptive") != nullptr;
}

GstPadProbeReturn countFragmentOutput(GstPad*, GstPadProbeInfo* info, gpointer data) {
    SourceProgress& progress = **static_cast<ProgressRef*>(data);
    progress.fragmentBytes += probedBytes(info);
    if ((info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) != 0 &&
        GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) {
        progress.fragmentsFinished = true;
    }
    return GST_PAD_PROBE_OK;
}

void onDemuxerPad(GstElement*, GstPad* pad, gpointer data) {
    if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC) {
        return;
    }
    gst_pad_add_probe(
        pad,
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                     GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
        countFragmentOutput, new ProgressRef(*static_cast<ProgressRef*>(data)), deleteProgressRef);
}

}  // namespace

bool watchAdaptiveDemuxer(GstElement* element, const std::shared_ptr<SourceProgress>& progress) {
    if (!isAdaptiveDemuxer(element)) {
        return false;
    }
    progress->adaptive = true;
    g_signal_connect_data(
        element, "pad-added", G_CALLBACK(onDemuxerPad), new ProgressRef(progress),
        [](gpointer data, GClosure*) { deleteProgressRef(data); }, GConnectFlags(0));
    return true;
}

}  // namespace velmora::engine
