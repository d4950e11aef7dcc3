#include "engine/test_outputs/test_outputs.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <mutex>
#include <utility>

#include "engine/runtime/element_factory.h"
#include "engine/runtime/gst_handles.h"

namespace velmora::engine {

struct PcmCapture::Line {
    std::mutex mutex;  // held for every call, so that cutting off waits for one
    std::function<void(const PcmBlock&)> onPcm;
};

namespace {

using Line = PcmCapture::Line;

// A sink in step with the clock is paced; one without takes what comes.
AudioOutputFactory fakeOutput(bool sync) {
    AudioOutputFactory factory;
    factory.make = [sync] {
        GstElement* sink = makeElement("fakesink");
        g_object_set(sink, "sync", sync ? TRUE : FALSE, nullptr);
        return sink;
    };
    factory.paced = sync;
    return factory;
}

GstFlowReturn onCapturedSample(GstAppSink* sink, gpointer data) {
    Line& line = **static_cast<std::shared_ptr<Line>*>(data);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (sample == nullptr) {
        return GST_FLOW_EOS;
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    const GstStructure* caps = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    int rate = 0;
    int channels = 0;
    gst_structure_get_int(caps, "rate", &rate);
    gst_structure_get_int(caps, "channels", &channels);
    GstMapInfo map;
    if (buffer != nullptr && channels > 0 && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        std::lock_guard lock(line.mutex);
        if (line.onPcm) {
            line.onPcm(
                PcmBlock{reinterpret_cast<const std::int16_t*>(map.data),
                         map.size / (sizeof(std::int16_t) * static_cast<std::size_t>(channels)),
                         channels, rate});
        }
        gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

GstElement* makeCaptureSink(const std::shared_ptr<Line>& line) {
    GstPtr<GstElement> bin(GST_ELEMENT(gst_object_ref_sink(gst_bin_new(nullptr))));
    GstElement* convert = makeElement("audioconvert");
    gst_bin_add(GST_BIN(bin.get()), convert);
    GstElement* sink = makeElement("appsink");
    gst_bin_add(GST_BIN(bin.get()), sink);
    CapsPtr caps(gst_caps_from_string("audio/x-raw,format=S16LE,layout=interleaved"));
    g_object_set(sink, "caps", caps.get(), "sync", TRUE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onCapturedSample;
    gst_app_sink_set_callbacks(
        GST_APP_SINK(sink), &callbacks, new std::shared_ptr<Line>(line),
        [](gpointer data) { delete static_cast<std::shared_ptr<Line>*>(data); });
    gst_element_link(convert, sink);
    GstPtr<GstPad> pad(gst_element_get_static_pad(convert, "sink"));
    gst_element_add_pad(bin.get(), gst_ghost_pad_new("sink", pad.get()));
    // Floating again, as the factory's contract has it: the pipeline takes it.
    GstElement* floating = bin.release();
    g_object_force_floating(G_OBJECT(floating));
    return floating;
}

}  // namespace

AudioOutputFactory nullOutput() { return fakeOutput(true); }

AudioOutputFactory unpacedOutput() { return fakeOutput(false); }

PcmCapture::PcmCapture(std::function<void(const PcmBlock&)> onPcm)
    : line_(std::make_shared<Line>()) {
    line_->onPcm = std::move(onPcm);
}

PcmCapture::~PcmCapture() {
    std::lock_guard lock(line_->mutex);
    line_->onPcm = nullptr;
}

AudioOutputFactory PcmCapture::output() const {
    AudioOutputFactory factory;
    factory.make = [line = line_] { return makeCaptureSink(line); };
    return factory;
}

}  // namespace velmora::engine
