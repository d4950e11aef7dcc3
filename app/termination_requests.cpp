#include "termination_requests.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <system_error>

#include <QSocketNotifier>

namespace velmora {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT};

// A signal handler reaches nothing but what is global; this is the write end
// of the one live object's pipe, or -1.
std::atomic<int> wakeFd{-1};

extern "C" void onSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a request; nothing is lost.
    [[maybe_unused]] const ssize_t written = ::write(wakeFd.load(), &byte, 1);
    errno = savedErrno;
}

bool setHandler(int signal, void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(signal, &action, nullptr) == 0;
}

}  // namespace

TerminationRequests::TerminationRequests(std::function<void()> onRequest)
    : onRequest_(std::move(onRequest)) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    readFd_ = fds[0];
    writeFd_ = fds[1];
    notifier_ = std::make_unique<QSocketNotifier>(readFd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { drain(); });
    wakeFd.store(writeFd_);
    for (const int signal : kSignals) {
        if (!setHandler(signal, onSignal)) {
            const int error = errno;
            release();
            throw std::system_error(error, std::generic_category(), "sigaction");
        }
    }
}

TerminationRequests::~TerminationRequests() { release(); }

void TerminationRequests::release() {
    for (const int signal : kSignals) {
        setHandler(signal, SIG_DFL);
    }
    wakeFd.store(-1);
    notifier_.reset();
    ::close(readFd_);
    ::close(writeFd_);
}

void TerminationRequests::drain() {
    char bytes[16];
    while (::read(readFd_, bytes, sizeof bytes) > 0) {
    }
    onRequest_();
}

}  // namespace velmora
