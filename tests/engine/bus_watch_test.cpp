// The bus watch against a streaming thread that posts while the user-interface
// side drains: no message may wait or overtake another.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "engine/runtime/bus_watch.h"
#include "engine/runtime/gst_handles.h"

namespace velmora::engine {
namespace {

constexpr int kMessages = 3000;
constexpr auto kDeliveryTimeout = std::chrono::seconds(2);

GstMessage* numbered(int number) {
    return gst_message_new_application(
        nullptr, gst_structure_new("velmora-test", "number", G_TYPE_INT, number, nullptr));
}

int numberOf(GstMessage* message) {
    int number = -1;
    gst_structure_get_int(gst_message_get_structure(message), "number", &number);
    return number;
}

class BusWatchTest : public ::testing::Test {
  protected:
    void SetUp() override { gst_init(nullptr, nullptr); }
    void TearDown() override { g_main_context_unref(raw_); }

    // Iterates the private context until the condition holds or time is up.
    template <typename Condition>
    bool drainUntil(Condition condition) {
        const auto deadline = std::chrono::steady_clock::now() + kDeliveryTimeout;
        while (!condition() && std::chrono::steady_clock::now() < deadline) {
            g_main_context_iteration(raw_, FALSE);
        }
        return condition();
    }

    GMainContext* raw_ = g_main_context_new();
    MainContext context_{raw_};
    GstPtr<GstBus> bus_{gst_bus_new()};
};

TEST_F(BusWatchTest, EveryMessagePostedFromAnotherThreadIsDeliveredInOrder) {
    int delivered = 0;
    int outOfOrder = 0;
    BusWatch watch(bus_.get(), context_, [&](GstMessage* message) {
        outOfOrder += numberOf(message) != delivered + 1;
        ++delivered;
    });
    std::atomic<int> toPost{0};
    std::atomic<bool> done{false};
    std::thread streaming([&] {
        for (int posted = 0; posted < kMessages && !done;) {
            if (toPost > posted) {
                gst_bus_post(bus_.get(), numbered(++posted));
            }
        }
    });
    for (int n = 1; n <= kMessages; ++n) {
        toPost = n;
        if (!drainUntil([&] { return delivered >= n; })) {
            ADD_FAILURE() << "message " << n << " was never delivered";
            break;
        }
    }
    done = true;
    streaming.join();
    EXPECT_EQ(outOfOrder, 0);
}

TEST_F(BusWatchTest, TheHandlerMayEndTheWatchAndNothingFollows) {
    int delivered = 0;
    std::unique_ptr<BusWatch> watch;
    watch = std::make_unique<BusWatch>(bus_.get(), context_, [&](GstMessage*) {
        ++delivered;
        watch.reset();
    });
    gst_bus_post(bus_.get(), numbered(1));
    gst_bus_post(bus_.get(), numbered(2));
    ASSERT_TRUE(drainUntil([&] { return delivered > 0; }));
    for (int i = 0; i < 10; ++i) {
        g_main_context_iteration(raw_, FALSE);
    }
    EXPECT_EQ(delivered, 1);
    EXPECT_EQ(watch, nullptr);
}

}  // namespace
}  // namespace velmora::engine
