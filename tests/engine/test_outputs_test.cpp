// The capture that tests hand the engine as its output: its cut-off, on which
// the pipeline tests' memory safety rests.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "engine/runtime/gst_handles.h"
#include "engine/test_outputs/test_outputs.h"

namespace velmora::engine {
namespace {

using namespace std::chrono_literals;

constexpr int kRateHz = 22050;
constexpr int kChannels = 2;
constexpr auto kWaitTimeout = 5s;

TEST(TestOutputsTest, CaptureHandsOverInterleavedS16UntilItIsCutOff) {
    gst_init(nullptr, nullptr);
    std::atomic<int> blocks{0};
    std::atomic<bool> inside{false};
    std::atomic<bool> wellFormed{true};
    // Slow enough that the cut-off most likely lands during a call.
    auto capture = std::make_unique<PcmCapture>([&](const PcmBlock& block) {
        inside = true;
        if (block.rateHz != kRateHz || block.channelCount != kChannels || block.frameCount == 0) {
            wellFormed = false;
        }
        std::this_thread::sleep_for(30ms);
        ++blocks;
        inside = false;
    });
    const GstPtr<GstElement> pipeline(GST_ELEMENT(gst_object_ref_sink(gst_parse_launch(
        "audiotestsrc ! audio/x-raw,format=F32LE,rate=22050,channels=2 ! queue name=feed",
        nullptr))));
    ASSERT_NE(pipeline, nullptr);
    GstElement* sink = capture->output().make();
    gst_bin_add(GST_BIN(pipeline.get()), sink);
    const GstPtr<GstElement> feed(gst_bin_get_by_name(GST_BIN(pipeline.get()), "feed"));
    ASSERT_TRUE(gst_element_link(feed.get(), sink));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);

    const auto deadline = std::chrono::steady_clock::now() + kWaitTimeout;
    while (blocks < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_GE(blocks, 3);
    EXPECT_TRUE(wellFormed);

    capture.reset();  // the pipeline plays on, as a retired one does
    EXPECT_FALSE(inside) << "the cut-off did not wait for the call in progress";
    const int blocksWhenCut = blocks;
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(blocks, blocksWhenCut);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}

}  // namespace
}  // namespace velmora::engine
