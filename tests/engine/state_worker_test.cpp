// A state change the pipeline refuses reaches the player as an ERROR on its
// bus, whether or not the refusing element says why.
#include <gtest/gtest.h>

#include "engine/network/error_mapping.h"
#include "engine/runtime/gst_handles.h"
#include "engine/runtime/state_worker.h"

namespace velmora::engine {
namespace {

// An element that refuses to leave NULL and posts nothing: what a badly
// written plugin does.
GType silentRefuserType() {
    static const GType type = g_type_register_static_simple(
        GST_TYPE_ELEMENT, "VelmoraSilentRefuser", sizeof(GstElementClass),
        [](gpointer klass, gpointer) {
            GST_ELEMENT_CLASS(klass)->change_state = [](GstElement*, GstStateChange transition) {
                return transition == GST_STATE_CHANGE_NULL_TO_READY ? GST_STATE_CHANGE_FAILURE
                                                                    : GST_STATE_CHANGE_SUCCESS;
            };
        },
        sizeof(GstElement), nullptr, GTypeFlags{});
    return type;
}

TEST(StateWorkerTest, ARefusedChangeEndsInAnErrorTheFirstOfWhichSaysWhy) {
    gst_init(nullptr, nullptr);
    struct Row {
        const char* name;
        bool elementSaysWhy;
    };
    for (const Row& row : {Row{"silent element", false}, Row{"element posts its error", true}}) {
        GstPtr<GstElement> pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
        GstElement* refuser = nullptr;
        if (row.elementSaysWhy) {
            refuser = gst_element_factory_make("fakesink", nullptr);
            g_object_set(refuser, "state-error", 1, nullptr);  // fails NULL to READY
        } else {
            refuser = GST_ELEMENT(g_object_new(silentRefuserType(), nullptr));
        }
        ASSERT_NE(refuser, nullptr) << row.name;
        gst_bin_add(GST_BIN(pipeline.get()), refuser);
        GstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
        {
            StateWorker worker;
            worker.request(pipeline.get(), GST_STATE_PLAYING);
            MessagePtr first(
                gst_bus_timed_pop_filtered(bus.get(), 5 * GST_SECOND, GST_MESSAGE_ERROR));
            ASSERT_TRUE(first) << row.name;
            EXPECT_EQ(GST_MESSAGE_SRC(first.get()),
                      row.elementSaysWhy ? GST_OBJECT(refuser) : GST_OBJECT(pipeline.get()))
                << row.name;
            EXPECT_EQ(classifyError(readErrorFacts(first.get())).failure.kind,
                      FailureKind::Internal)
                << row.name;
            worker.retire(pipeline.get());
        }
        int laterErrors = 0;  // the worker's own, then none from retiring
        while (MessagePtr(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR))) {
            ++laterErrors;
        }
        EXPECT_EQ(laterErrors, row.elementSaysWhy ? 1 : 0) << row.name;
    }
}

}  // namespace
}  // namespace velmora::engine
