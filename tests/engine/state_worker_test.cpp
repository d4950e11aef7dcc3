// A refused state change reaches the player as an ERROR, whether or not the
// element says why; a pipeline that does not come down holds up no other.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/network/error_mapping.h"
#include "engine/runtime/gst_handles.h"
#include "engine/runtime/state_worker.h"
#include "engine_test_support.h"

namespace velmora::engine::testing {
namespace {

// With a hold, it keeps its thread in READY to NULL until released: a pipeline
// that does not come down. Without, it refuses to leave NULL and posts nothing:
// what a badly written plugin does.
GstElement* misbehaving(std::atomic<bool>* released) {
    static const GType type = g_type_register_static_simple(
        GST_TYPE_ELEMENT, "VelmoraMisbehavingElement", sizeof(GstElementClass),
        [](gpointer klass, gpointer) {
            GST_ELEMENT_CLASS(klass)->change_state = [](GstElement* element,
                                                        GstStateChange transition) {
                const auto* released =
                    static_cast<std::atomic<bool>*>(g_object_get_data(G_OBJECT(element), "hold"));
                if (released == nullptr) {
                    return transition == GST_STATE_CHANGE_NULL_TO_READY ? GST_STATE_CHANGE_FAILURE
                                                                        : GST_STATE_CHANGE_SUCCESS;
                }
                while (transition == GST_STATE_CHANGE_READY_TO_NULL && !*released) {
                    std::this_thread::sleep_for(5ms);
                }
                return GST_STATE_CHANGE_SUCCESS;
            };
        },
        sizeof(GstElement), nullptr, GTypeFlags{});
    GstElement* element = GST_ELEMENT(g_object_new(type, nullptr));
    g_object_set_data(G_OBJECT(element), "hold", released);
    return element;
}

GstPtr<GstElement> emptyPipeline() {
    return GstPtr<GstElement>(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
}

TEST(StateWorkerTest, ARefusedChangeEndsInAnErrorTheFirstOfWhichSaysWhy) {
    gst_init(nullptr, nullptr);
    for (const bool elementSaysWhy : {false, true}) {
        SCOPED_TRACE(elementSaysWhy ? "the element posts its error" : "a silent element");
        GstPtr<GstElement> pipeline = emptyPipeline();
        GstElement* refuser = nullptr;
        if (elementSaysWhy) {
            refuser = gst_element_factory_make("fakesink", nullptr);
            g_object_set(refuser, "state-error", 1, nullptr);  // fails NULL to READY
        } else {
            refuser = misbehaving(nullptr);
        }
        ASSERT_NE(refuser, nullptr);
        gst_bin_add(GST_BIN(pipeline.get()), refuser);
        GstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
        {
            ThreadKeeper threads;
            StateWorker worker(threads);
            worker.request(pipeline.get(), GST_STATE_PLAYING);
            MessagePtr first(
                gst_bus_timed_pop_filtered(bus.get(), 5 * GST_SECOND, GST_MESSAGE_ERROR));
            ASSERT_TRUE(first);
            EXPECT_EQ(GST_MESSAGE_SRC(first.get()),
                      elementSaysWhy ? GST_OBJECT(refuser) : GST_OBJECT(pipeline.get()));
            EXPECT_EQ(classifyError(readErrorFacts(first.get())).failure.kind,
                      FailureKind::Internal);
            worker.retire(pipeline.get());
        }
        int laterErrors = 0;  // the worker's own, then none from retiring
        while (MessagePtr(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR))) {
            ++laterErrors;
        }
        EXPECT_EQ(laterErrors, elementSaysWhy ? 1 : 0);
    }
}

TEST(StateWorkerTest, APipelineThatCannotComeDownYetOrAtAllHoldsUpNoOther) {
    gst_init(nullptr, nullptr);
    {
        // Spare work runs its steps once each, then the worker sleeps.
        std::atomic<int> steps{0};
        ThreadKeeper threads;
        StateWorker worker(threads, [&steps, left = 3]() mutable {
            ++steps;
            return --left > 0;
        });
        ASSERT_TRUE(runUntil([&] { return steps == 3; }, 10s));
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(steps, 3);
    }
    {
        // Taken down only once it is no longer busy; the others go ahead meanwhile.
        GstPtr<GstElement> waiting = emptyPipeline();
        GstPtr<GstElement> other = emptyPipeline();
        std::atomic<bool> busy{true};
        ThreadKeeper threads;
        StateWorker worker(threads);
        worker.request(waiting.get(), GST_STATE_PLAYING);
        ASSERT_TRUE(runUntil([&] { return GST_STATE(waiting.get()) == GST_STATE_PLAYING; }, 10s));
        worker.retire(waiting.get(), [&] { return busy.load(); });
        worker.request(other.get(), GST_STATE_PLAYING);
        ASSERT_TRUE(runUntil([&] { return GST_STATE(other.get()) == GST_STATE_PLAYING; }, 10s));
        EXPECT_EQ(GST_STATE(waiting.get()), GST_STATE_PLAYING);
        busy = false;
        EXPECT_TRUE(runUntil([&] { return GST_STATE(waiting.get()) == GST_STATE_NULL; }, 10s));
        worker.retire(other.get());
    }
    {
        // Never comes down: given up, and the queue goes on without it.
        std::atomic<bool> released{false};
        GstPtr<GstElement> stuck = emptyPipeline();
        gst_bin_add(GST_BIN(stuck.get()), misbehaving(&released));
        GstPtr<GstElement> other = emptyPipeline();
        ThreadKeeper threads;
        {
            StateWorker worker(threads, {}, 50ms);
            worker.request(stuck.get(), GST_STATE_PLAYING);
            ASSERT_TRUE(runUntil([&] { return GST_STATE(stuck.get()) == GST_STATE_PLAYING; }, 10s));
            worker.retire(stuck.get());
            // Each request looks for a stuck change; the first may come too soon.
            EXPECT_TRUE(runUntil(
                [&] {
                    worker.request(other.get(), GST_STATE_PLAYING);
                    return GST_STATE(other.get()) == GST_STATE_PLAYING;
                },
                10s));
            EXPECT_EQ(worker.abandoned(), 1);
            worker.retire(other.get());
        }
        // The given-up thread outlives its worker, kept, and is joined once it returns.
        EXPECT_EQ(threads.joinAll(0ms), 1U);
        released = true;
        EXPECT_EQ(threads.joinAll(10s), 0U);
        EXPECT_EQ(GST_STATE(stuck.get()), GST_STATE_NULL);
    }
}

}  // namespace
}  // namespace velmora::engine::testing
