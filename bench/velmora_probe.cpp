// velmora-probe URL [--seconds N] [--null-sink | --unpaced-sink] [--server-return-ms N]
//
// Plays one URL through the Velmora engine, headless, and prints every status
// change and notice as one JSON object a line, with the milliseconds since
// launch:
//   {"t_ms":123,"event":"status","state":3,"status":"正在播放"}
//   {"t_ms":456,"event":"warning","type":5,"param":404,"description":"服务器错误：HTTP 404"}
//   {"t_ms":456,"event":"media_error"}
// Ends after N seconds, or when the media ends or fails. Exit code 0 when it
// played, 1 after a failure, 2 for a bad command line, 3 when it never
// played within the time. --null-sink discards the sound in real time,
// --unpaced-sink as fast as it decodes (for soaks). --server-return-ms sets
// how long the sound server's output waits for a server that went away.
// --heap-every S adds, every
// S seconds, what the process has allocated and not freed:
//   {"t_ms":1000,"event":"heap","in_use_kib":5120}
#include <glib.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/player/media_player_factory.h"
#include "engine/test_outputs/test_outputs.h"
#include "playback/player_error.h"

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point kLaunch = Clock::now();

constexpr int kExitPlayed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNeverPlayed = 3;

long long millisecondsSinceLaunch() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - kLaunch).count();
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

void printEvent(const std::string& fields) {
    std::printf("{\"t_ms\":%lld,%s}\n", millisecondsSinceLaunch(), fields.c_str());
    std::fflush(stdout);
}

class ProbeListener : public velmora::playback::PlayerListener {
  public:
    ProbeListener(velmora::playback::Player& player, GMainLoop* loop)
        : player_(player), loop_(loop) {}

    void onStatusChange() override {
        const std::int32_t state = player_.playState();
        printEvent("\"event\":\"status\",\"state\":" + std::to_string(state) +
                   ",\"status\":" + jsonString(player_.status()));
        namespace ps = velmora::playback::play_state;
        if (state == ps::Playing) {
            played_ = true;
        } else if (state == ps::Stopped && played_) {
            finish(kExitPlayed);
        }
    }

    void onWarning(std::int32_t type, std::int32_t param, const std::string& description) override {
        printEvent("\"event\":\"warning\",\"type\":" + std::to_string(type) + ",\"param\":" +
                   std::to_string(param) + ",\"description\":" + jsonString(description));
        finish(kExitFailed);
    }

    void onMediaError() override {
        printEvent("\"event\":\"media_error\"");
        finish(kExitFailed);
    }

    void timeUp() { finish(played_ ? kExitPlayed : kExitNeverPlayed); }
    int exitCode() const { return exitCode_; }

  private:
    void finish(int code) {
        if (exitCode_ < 0) {
            exitCode_ = code;
        }
        g_main_loop_quit(loop_);
    }

    velmora::playback::Player& player_;
    GMainLoop* loop_;
    bool played_ = false;
    int exitCode_ = -1;
};

int usage() {
    std::fprintf(stderr,
                 "usage: velmora-probe URL [--seconds N] [--null-sink | --unpaced-sink] "
                 "[--server-return-ms N]\n");
    return kExitUsage;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::string url;
    double seconds = 0;
    double heapEveryS = 0;
    velmora::engine::EngineOptions options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            char* end = nullptr;
            seconds = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || seconds < 0) {
                return usage();
            }
        } else if (std::strcmp(argv[i], "--heap-every") == 0 && i + 1 < argc) {
            char* end = nullptr;
            heapEveryS = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || heapEveryS <= 0) {
                return usage();
            }
        } else if (std::strcmp(argv[i], "--server-return-ms") == 0 && i + 1 < argc) {
            options.audioOutput.serverReturnMs = std::atoi(argv[++i]);
            if (options.audioOutput.serverReturnMs <= 0) {
                return usage();
            }
        } else if (std::strcmp(argv[i], "--null-sink") == 0) {
            options.audioOutput = velmora::engine::nullOutput();
        } else if (std::strcmp(argv[i], "--unpaced-sink") == 0) {
            options.audioOutput = velmora::engine::unpacedOutput();
        } else if (url.empty() && argv[i][0] != '-') {
            url = argv[i];
        } else {
            return usage();
        }
    }
    if (url.empty()) {
        return usage();
    }

    velmora::engine::ThreadKeeper threads;
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    int exitCode = kExitFailed;
    try {
        auto player = velmora::engine::createMediaPlayer(velmora::playback::PlayerSettings{},
                                                         threads, std::move(options));
        ProbeListener listener(*player, loop);
        player->setListener(&listener);
        player->setURL(url);
        if (seconds > 0) {
            g_timeout_add(
                static_cast<guint>(seconds * 1000),
                [](gpointer data) -> gboolean {
                    static_cast<ProbeListener*>(data)->timeUp();
                    return G_SOURCE_REMOVE;
                },
                &listener);
        }
        if (heapEveryS > 0) {
            // The allocator's own count: the resident size also holds what it
            // keeps after a free, which swings by tens of megabytes.
            g_timeout_add(
                static_cast<guint>(heapEveryS * 1000),
                [](gpointer) -> gboolean {
                    const struct mallinfo2 info = mallinfo2();
                    printEvent("\"event\":\"heap\",\"in_use_kib\":" +
                               std::to_string((info.uordblks + info.hblkhd) / 1024));
                    return G_SOURCE_CONTINUE;
                },
                nullptr);
        }
        g_main_loop_run(loop);
        exitCode = listener.exitCode();
        player->setListener(nullptr);
    } catch (const velmora::playback::PlayerError& error) {
        std::fprintf(stderr, "velmora-probe: %s\n", error.what());
    }
    g_main_loop_unref(loop);
    if (threads.joinAll(std::chrono::seconds(1)) > 0) {
        std::fputs("velmora-probe: a pipeline did not wind down; ending without it\n", stderr);
        std::_Exit(exitCode);
    }
    return exitCode;
}
