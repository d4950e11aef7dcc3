// The start gate on a pipeline of its own: MP3 frames as an encoder writes
// them, decoded into the gate's queue, and a sink that shows what got past.
#include <gst/app/gstappsink.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "engine/pipeline/leading_silence.h"
#include "engine/pipeline/start_gate.h"
#include "engine/runtime/gst_handles.h"

namespace velmora::engine {
namespace {

constexpr GstClockTime kStartNs = 200 * GST_MSECOND;
constexpr GstClockTime kWaitTimeout = 5 * GST_SECOND;
// The trimmed sound must start within this much of where the stream starts.
constexpr GstClockTime kStartTolerance = 2 * GST_MSECOND;

// A tone of so many 1024-sample buffers, encoded, decoded and gated.
class GatedTone {
  public:
    GatedTone(const std::string& encoder, int toneBuffers) {
        gst_init(nullptr, nullptr);
        const std::string description =
            "audiotestsrc num-buffers=" + std::to_string(toneBuffers) + " ! " + encoder +
            " ! mpegaudioparse ! mpg123audiodec ! audioconvert ! audio/x-raw,format=S16LE"
            " ! queue name=gate max-size-time=2000000000 max-size-buffers=0 max-size-bytes=0"
            " ! appsink name=sink sync=false wait-on-eos=false";
        pipeline.reset(
            GST_ELEMENT(gst_object_ref_sink(gst_parse_launch(description.c_str(), nullptr))));
        GstPtr<GstElement> queue(gst_bin_get_by_name(GST_BIN(pipeline.get()), "gate"));
        sink.reset(gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
        gate = std::make_unique<StartGate>(queue.get(), kStartNs);
        bus.reset(gst_element_get_bus(pipeline.get()));
        gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    }
    ~GatedTone() { gst_element_set_state(pipeline.get(), GST_STATE_NULL); }

    bool waitFor(GstMessageType type, const std::function<bool(GstMessage*)>& accept) const {
        const GstClockTime deadline = gst_util_get_timestamp() + kWaitTimeout;
        for (GstClockTime now = gst_util_get_timestamp(); now < deadline;
             now = gst_util_get_timestamp()) {
            MessagePtr message(gst_bus_timed_pop_filtered(
                bus.get(), deadline - now, static_cast<GstMessageType>(type | GST_MESSAGE_ERROR)));
            if (!message || GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
                return false;
            }
            if (accept(message.get())) {
                return true;
            }
        }
        return false;
    }

    GstPtr<GstElement> pipeline;
    GstPtr<GstElement> sink;
    GstPtr<GstBus> bus;
    std::unique_ptr<StartGate> gate;
};

// LAME's frames as they come, and after the Info frame it writes first.
TEST(StartGateTest, HoldsEvenTheCapsUntilFullThenStartsWithTheSound) {
    for (const char* encoder : {"lamemp3enc", "lamemp3enc ! xingmux"}) {
        SCOPED_TRACE(encoder);
        GatedTone tone(encoder, 40);
        ASSERT_TRUE(tone.waitFor(GST_MESSAGE_ELEMENT, [](GstMessage* message) {
            const GstStructure* progress = gst_message_get_structure(message);
            int percent = 0;
            return gst_structure_has_name(progress, StartGate::kProgressMessage) &&
                   gst_structure_get_int(progress, "percent", &percent) && percent == 100;
        }));
        EXPECT_GE(tone.gate->queuedEndNs(), static_cast<std::int64_t>(kStartNs));
        GstPtr<GstPad> sinkPad(gst_element_get_static_pad(tone.sink.get(), "sink"));
        EXPECT_FALSE(tone.gate->isOpen());
        EXPECT_FALSE(gst_pad_has_current_caps(sinkPad.get()));

        tone.gate->allow(true);
        EXPECT_TRUE(tone.gate->isOpen());
        g_autoptr(GstSample) first =
            gst_app_sink_try_pull_sample(GST_APP_SINK(tone.sink.get()), kWaitTimeout);
        ASSERT_NE(first, nullptr);
        GstBuffer* buffer = gst_sample_get_buffer(first);
        GstMapInfo map;
        ASSERT_TRUE(gst_buffer_map(buffer, &map, GST_MAP_READ));
        // The encoder's lead-in is gone: the first sample the sink gets is sound.
        EXPECT_EQ(firstAudibleFrame(map.data, map.size / 2, 1, SampleFormat::S16), 0u);
        gst_buffer_unmap(buffer, &map);
        // ... and it plays when the lead-in would have, so the clock starts with it.
        const GstClockTime runningTime = gst_segment_to_running_time(
            gst_sample_get_segment(first), GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
        EXPECT_LE(runningTime, kStartTolerance);
    }
}

TEST(StartGateShortMediaTest, PlaysAMediaShorterThanTheStartBufferWhenItEnds) {
    GatedTone tone("lamemp3enc", 4);
    tone.gate->allow(true);
    EXPECT_TRUE(tone.waitFor(GST_MESSAGE_EOS, [](GstMessage*) { return true; }));
    EXPECT_TRUE(tone.gate->isOpen());
    EXPECT_LT(tone.gate->queuedEndNs(), static_cast<std::int64_t>(kStartNs));
}

}  // namespace
}  // namespace velmora::engine
