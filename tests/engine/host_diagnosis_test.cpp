// The diagnosis against real sockets on loopback, on a context of its own. An
// unknown host, a refused port and an untrusted certificate are the player's
// failure rows, diagnosed the same way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine/runtime/host_diagnosis.h"
#include "engine/runtime/main_context.h"
#include "engine_test_support.h"

namespace velmora::engine::testing {
namespace {

constexpr auto kAfterDeadline = 200ms;

class HostDiagnosisTest : public ::testing::Test {
  protected:
    ~HostDiagnosisTest() override {
        close(silentFd_);
        g_main_context_unref(raw_);
    }

    std::unique_ptr<HostDiagnosis> diagnose(const std::string& uri, int timeoutMs) {
        return std::make_unique<HostDiagnosis>(uri, timeoutMs, context_, [this](Failure failure) {
            verdicts_.push_back(std::move(failure));
        });
    }

    std::string silentUrl(const char* scheme) const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(silentPort_) + "/stream";
    }

    GMainContext* raw_ = g_main_context_new();
    MainContext context_{raw_};
    StreamServer server_;  // its certificate is untrusted
    // Listened on, never accepted from: the kernel completes every connection,
    // and nothing ever answers on it.
    int silentPort_ = 0;
    const int silentFd_ = listeningLoopback(silentPort_);
    std::vector<Failure> verdicts_;
};

TEST_F(HostDiagnosisTest, DeliversOneVerdictOnTheContext) {
    struct Row {
        const char* scheme;  // on the silent port; none: not a URI at all
        int timeoutMs;
        Failure expected;
    };
    for (const Row& row : {Row{nullptr, 300, {FailureKind::UnsupportedAddress, 0, {}}},
                           Row{"http", 500, {FailureKind::ConnectionLost, 0, {}}},
                           Row{"https", 300, {FailureKind::TimedOut, 0, {}}}}) {
        SCOPED_TRACE(row.scheme != nullptr ? row.scheme : "not a uri");
        verdicts_.clear();
        const auto started = Clock::now();
        const auto diagnosis =
            diagnose(row.scheme != nullptr ? silentUrl(row.scheme) : "not a uri", row.timeoutMs);
        EXPECT_TRUE(verdicts_.empty()) << "the verdict ran inside the constructor";
        const std::chrono::milliseconds deadline(row.timeoutMs);
        ASSERT_TRUE(
            runUntil([this] { return !verdicts_.empty(); }, deadline + kAfterDeadline, raw_));
        EXPECT_EQ(verdicts_.front(), row.expected);
        // Past the deadline, which must have died with the verdict.
        runFor(started + deadline + kAfterDeadline - Clock::now(), raw_);
        EXPECT_EQ(verdicts_.size(), 1u);
    }
}

TEST_F(HostDiagnosisTest, DestroyedBeforeItsVerdictStaysSilent) {
    constexpr int kTimeoutMs = 300;
    const std::string silentTls = silentUrl("https");
    const std::string untrusted = server_.tlsUrl("/stream");
    for (const auto& [uri, ranFor] :
         {std::pair{silentTls, 0ms}, std::pair{silentTls, 20ms}, std::pair{silentTls, 150ms},
          std::pair{untrusted, 0ms},
          std::pair{std::string("http://velmora-diagnosis.invalid/"), 0ms}}) {
        SCOPED_TRACE(uri + " destroyed after " + std::to_string(ranFor.count()) + " ms");
        auto diagnosis = diagnose(uri, kTimeoutMs);
        runFor(ranFor, raw_);
        ASSERT_TRUE(verdicts_.empty());
        diagnosis.reset();
        // The cancelled calls come back, and the deadline passes.
        runFor(std::chrono::milliseconds(kTimeoutMs) + kAfterDeadline, raw_);
        EXPECT_TRUE(verdicts_.empty());
    }
}

TEST_F(HostDiagnosisTest, TheVerdictMayDestroyTheDiagnosis) {
    std::unique_ptr<HostDiagnosis> diagnosis;
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(StreamServer::closedPort()) + "/stream";
    diagnosis = std::make_unique<HostDiagnosis>(refused, 300, context_, [&](Failure failure) {
        verdicts_.push_back(std::move(failure));
        diagnosis.reset();
    });
    ASSERT_TRUE(runUntil([this] { return !verdicts_.empty(); }, 1s, raw_));
    runFor(300ms + kAfterDeadline, raw_);
    EXPECT_EQ(verdicts_.size(), 1u);
    EXPECT_EQ(diagnosis, nullptr);
}

}  // namespace
}  // namespace velmora::engine::testing
