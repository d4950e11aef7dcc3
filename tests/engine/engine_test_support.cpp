#include "engine_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>

extern char** environ;

namespace velmora::engine::testing {
namespace {

constexpr auto kServerStartTimeout = 20s;
constexpr auto kServerStopTimeout = 3s;

int jsonInt(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\":");
    return at == std::string::npos ? 0 : std::atoi(json.c_str() + at + key.size() + 3);
}

}  // namespace

pid_t spawn(std::vector<std::string> args, int stdoutFd) {
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0) << args[0];
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void StreamServer::start() {
    // Where these are comes from the build (tests/support/CMakeLists.txt names them).
    const std::string script = VELMORA_STREAM_SERVER;
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    pid_ = spawn({VELMORA_PYTHON, script, "--port", "0", "--tls-port", "0", "--media-dir",
                  VELMORA_TEST_MEDIA_DIR},
                 out[1]);
    close(out[1]);
    ASSERT_GT(pid_, 0) << "cannot start " << script;

    // The server prints {"port": N, "tls_port": M} once it listens.
    std::string line;
    const auto deadline = Clock::now() + kServerStartTimeout;
    while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
        pollfd readable{out[0], POLLIN, 0};
        if (poll(&readable, 1, 100) > 0) {
            char chunk[256];
            const ssize_t got = read(out[0], chunk, sizeof chunk);
            if (got <= 0) {
                break;
            }
            line.append(chunk, static_cast<std::size_t>(got));
        }
    }
    close(out[0]);
    port_ = jsonInt(line, "port");
    tlsPort_ = jsonInt(line, "tls_port");
    ASSERT_GT(port_, 0) << "the stream server did not start: " << line;
}

StreamServer::~StreamServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        reap(pid_, kServerStopTimeout);
    }
}

int reap(pid_t pid, Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(5ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void StreamServer::kill() {
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string StreamServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> StreamServer::lines(const std::string& path) const {
    const std::string command =
        std::string(VELMORA_PYTHON) +
        " -c 'import sys,urllib.request as u;"
        "print(u.urlopen(sys.argv[1],timeout=5).read().decode(),end=\"\")' " +
        url(path);
    std::vector<std::string> lines;
    if (FILE* output = popen(command.c_str(), "r")) {
        char line[128];
        while (std::fgets(line, sizeof line, output) != nullptr) {
            lines.emplace_back(line, std::string(line).find('\n'));
        }
        pclose(output);
    }
    return lines;
}

std::string StreamServer::tlsUrl(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(tlsPort_) + path;
}

int listeningLoopback(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
    EXPECT_EQ(listen(fd, 8), 0);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return fd;
}

int StreamServer::closedPort() {
    // Just given up by a socket of our own: no one else asked for it since.
    int port = 0;
    close(listeningLoopback(port));
    return port;
}

std::string StreamServer::mediaFile(const std::string& prefix) {
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(VELMORA_TEST_MEDIA_DIR))) {
        if (entry.path().filename().string().starts_with(prefix)) {
            return entry.path().string();
        }
    }
    ADD_FAILURE() << "no cached media named " << prefix << "*";
    return {};
}

void SoundCapture::add(const PcmBlock& block) {
    // Quieter than this is silence: a tone at a tenth of full scale never stays below it
    // for more than a sample.
    constexpr int kQuiet = 64;
    const auto arrived = Clock::now();
    std::lock_guard lock(mutex_);
    if (rateHz_ != 0 && arrived > soundEnd_ && !silentSince_) {
        silentSince_ = soundEnd_;
    }
    rateHz_ = block.rateHz;
    const auto frameTime = [&](std::size_t frame) {
        return arrived + std::chrono::duration_cast<Clock::duration>(
                             std::chrono::duration<double>(static_cast<double>(frame) / rateHz_));
    };
    for (std::size_t frame = 0; frame < block.frameCount; ++frame) {
        const std::int16_t sample =
            block.samples[frame * static_cast<std::size_t>(block.channelCount)];
        samples_.push_back(sample);
        if (std::abs(sample) < kQuiet) {
            silentSince_ = silentSince_.value_or(frameTime(frame));
        } else if (silentSince_) {
            longestSilence_ = std::max(longestSilence_, frameTime(frame) - *silentSince_);
            silentSince_.reset();
        }
    }
    soundEnd_ = frameTime(block.frameCount);
}

Clock::duration SoundCapture::longestSilence() const {
    std::lock_guard lock(mutex_);
    if (rateHz_ == 0) {
        return {};
    }
    const Clock::time_point since = silentSince_.value_or(soundEnd_);
    return std::max(longestSilence_, Clock::now() - since);
}

double SoundCapture::toneShare(double frequencyHz, double seconds) const {
    std::lock_guard lock(mutex_);
    const auto count = static_cast<std::size_t>(seconds * rateHz_);
    if (rateHz_ == 0 || count == 0 || samples_.size() < count) {
        return 0;
    }
    // Goertzel over the window; the share compares its power with the
    // window's total power (Parseval: total = N/2 * sum of x^2 for one bin's scale).
    const double coefficient = 2 * std::cos(2 * M_PI * frequencyHz / rateHz_);
    double previous = 0, beforePrevious = 0, energy = 0;
    for (std::size_t i = samples_.size() - count; i < samples_.size(); ++i) {
        const double x = samples_[i];
        energy += x * x;
        const double current = x + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double binPower = previous * previous + beforePrevious * beforePrevious -
                            coefficient * previous * beforePrevious;
    return energy == 0 ? 0 : binPower / (energy * static_cast<double>(count) / 2);
}

bool runUntil(const std::function<bool()>& condition, Clock::duration timeout, GMainContext* only) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        const bool dispatched = only != nullptr
                                    ? g_main_context_iteration(only, FALSE)
                                    : g_main_context_iteration(nullptr, FALSE) ||
                                          g_main_context_iteration(privateContext(), FALSE);
        if (!dispatched) {
            std::this_thread::sleep_for(2ms);
        }
    }
    return true;
}

void runFor(Clock::duration duration, GMainContext* only) {
    runUntil([] { return false; }, duration, only);
}

GMainContext* privateContext() {
    // One for the test process, never freed: GLib keeps what was attached to it.
    static GMainContext* const context = g_main_context_new();
    return context;
}

}  // namespace velmora::engine::testing
