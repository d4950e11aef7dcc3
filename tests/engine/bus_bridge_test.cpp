// The bus bridge against a streaming thread that posts while the
// user-interface side drains: no message may be left waiting.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/runtime/bus_bridge.h"
#include "engine/runtime/gst_handles.h"

namespace velmora::engine {
namespace {

constexpr int kMessages = 3000;
constexpr auto kDeliveryTimeout = std::chrono::seconds(2);

TEST(BusBridgeTest, EveryMessagePostedFromAnotherThreadIsDelivered) {
    gst_init(nullptr, nullptr);
    GstPtr<GstBus> bus(gst_bus_new());
    std::mutex mutex;
    std::deque<std::function<void()>> uiQueue;
    UiPost post = [&](std::function<void()> task) {
        std::lock_guard lock(mutex);
        uiQueue.push_back(std::move(task));
    };
    int delivered = 0;
    BusBridge bridge(bus.get(), post, [&](GstMessage*) { ++delivered; });

    std::atomic<int> toPost{0};
    std::atomic<bool> done{false};
    std::thread streaming([&] {
        for (int posted = 0; posted < kMessages && !done;) {
            if (toPost > posted) {
                gst_bus_post(bus.get(), gst_message_new_application(
                                            nullptr, gst_structure_new_empty("velmora-test")));
                ++posted;
            }
        }
    });
    for (int n = 1; n <= kMessages; ++n) {
        toPost = n;
        const auto deadline = std::chrono::steady_clock::now() + kDeliveryTimeout;
        while (delivered < n && std::chrono::steady_clock::now() < deadline) {
            std::function<void()> task;
            {
                std::lock_guard lock(mutex);
                if (!uiQueue.empty()) {
                    task = std::move(uiQueue.front());
                    uiQueue.pop_front();
                }
            }
            if (task) task();
        }
        if (delivered < n) {
            ADD_FAILURE() << "message " << n << " was never delivered";
            break;
        }
    }
    done = true;
    streaming.join();
}

}  // namespace
}  // namespace velmora::engine
