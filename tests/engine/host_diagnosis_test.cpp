// The diagnosis against real sockets on loopback, on a private main context
// that the test iterates itself: one verdict per failure, none after the
// diagnosis is gone. An unknown host, a refused port and an untrusted
// certificate are the player's failure rows, diagnosed the same way.
#include <arpa/inet.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/runtime/host_diagnosis.h"
#include "engine/runtime/main_context.h"
#include "engine_test_support.h"

namespace velmora::engine {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kAfterDeadline = 200ms;

std::string refusedUrl() {
    return "http://127.0.0.1:" + std::to_string(testing::StreamServer::closedPort()) + "/stream";
}

struct ContextUnref {
    void operator()(GMainContext* context) const { g_main_context_unref(context); }
};

bool iterateUntil(GMainContext* context, const std::function<bool()>& done, Clock::duration limit) {
    const auto end = Clock::now() + limit;
    while (!done() && Clock::now() < end) {
        if (!g_main_context_iteration(context, FALSE)) {
            std::this_thread::sleep_for(1ms);
        }
    }
    return done();
}

// A loopback port that is listened on and never accepted from: the kernel
// completes every connection, and nothing ever answers on it.
class SilentPort {
  public:
    SilentPort() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), size), 0);
        EXPECT_EQ(listen(fd_, 8), 0);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~SilentPort() { close(fd_); }
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;

    std::string url(const char* scheme) const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_) + "/stream";
    }

  private:
    int fd_;
    int port_ = 0;
};

class HostDiagnosisTest : public ::testing::Test {
  protected:
    std::unique_ptr<HostDiagnosis> diagnose(const std::string& uri, int timeoutMs) {
        return std::make_unique<HostDiagnosis>(uri, timeoutMs, context_, [this](Failure failure) {
            verdicts_.push_back(std::move(failure));
        });
    }

    bool iterateUntilVerdict(Clock::duration limit) {
        return iterateUntil(
            raw_.get(), [this] { return !verdicts_.empty(); }, limit);
    }
    void iterateFor(Clock::duration duration) {
        iterateUntil(
            raw_.get(), [] { return false; }, duration);
    }

    std::unique_ptr<GMainContext, ContextUnref> raw_{g_main_context_new()};
    MainContext context_{raw_.get()};
    testing::StreamServer server_;  // its certificate is untrusted
    SilentPort silent_;
    std::vector<Failure> verdicts_;
};

struct DiagnosisCase {
    const char* name;
    const char* scheme;  // on the silent port; none: not a URI at all
    int timeoutMs;
    Failure expected;
};

void PrintTo(const DiagnosisCase& row, std::ostream* out) { *out << row.name; }

class HostDiagnosisTable : public HostDiagnosisTest,
                           public ::testing::WithParamInterface<DiagnosisCase> {};

TEST_P(HostDiagnosisTable, DeliversOneVerdictOnTheContext) {
    const DiagnosisCase& row = GetParam();
    const auto started = Clock::now();
    const auto diagnosis =
        diagnose(row.scheme != nullptr ? silent_.url(row.scheme) : "not a uri", row.timeoutMs);
    EXPECT_TRUE(verdicts_.empty()) << "the verdict ran inside the constructor";

    const std::chrono::milliseconds deadline(row.timeoutMs);
    ASSERT_TRUE(iterateUntilVerdict(deadline + kAfterDeadline));
    EXPECT_EQ(verdicts_.front(), row.expected);
    // Past the deadline, which must have died with the verdict.
    iterateFor(started + deadline + kAfterDeadline - Clock::now());
    EXPECT_EQ(verdicts_.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Loopback, HostDiagnosisTable,
    ::testing::Values(
        DiagnosisCase{"NotAUri", nullptr, 300, {FailureKind::UnsupportedAddress, 0, {}}},
        DiagnosisCase{
            "HostAnswersPlainConnection", "http", 500, {FailureKind::ConnectionLost, 0, {}}},
        DiagnosisCase{"HandshakeNeverAnswered", "https", 300, {FailureKind::TimedOut, 0, {}}}),
    [](const ::testing::TestParamInfo<DiagnosisCase>& info) { return info.param.name; });

TEST_F(HostDiagnosisTest, DestroyedBeforeItsVerdictStaysSilent) {
    constexpr int kTimeoutMs = 300;
    const std::string silentTls = silent_.url("https");
    const std::string untrusted = server_.tlsUrl("/stream");
    for (const auto& [uri, ranFor] :
         {std::pair{silentTls, 0ms}, std::pair{silentTls, 20ms}, std::pair{silentTls, 150ms},
          std::pair{untrusted, 0ms},
          std::pair{std::string("http://velmora-diagnosis.invalid/"), 0ms}}) {
        SCOPED_TRACE(uri + " destroyed after " + std::to_string(ranFor.count()) + " ms");
        auto diagnosis = diagnose(uri, kTimeoutMs);
        iterateFor(ranFor);
        ASSERT_TRUE(verdicts_.empty());
        diagnosis.reset();
        // The cancelled calls come back, and the deadline passes.
        iterateFor(std::chrono::milliseconds(kTimeoutMs) + kAfterDeadline);
        EXPECT_TRUE(verdicts_.empty());
    }
}

TEST_F(HostDiagnosisTest, TheVerdictMayDestroyTheDiagnosis) {
    std::unique_ptr<HostDiagnosis> diagnosis;
    diagnosis = std::make_unique<HostDiagnosis>(refusedUrl(), 300, context_, [&](Failure failure) {
        verdicts_.push_back(std::move(failure));
        diagnosis.reset();
    });
    ASSERT_TRUE(iterateUntilVerdict(1s));
    iterateFor(300ms + kAfterDeadline);
    EXPECT_EQ(verdicts_.size(), 1u);
    EXPECT_EQ(diagnosis, nullptr);
}

}  // namespace
}  // namespace velmora::engine
