#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace velmora {

// Turns SIGTERM and SIGINT into a call of `onRequest` from the main loop, so
// that a service manager or a terminal ends the program as closing its windows
// does. The signal handler only writes a byte to a pipe. At most one object
// exists at a time; it restores the default handling when destroyed.
class TerminationRequests {
  public:
    // Throws std::system_error when the pipe or the handlers cannot be set up.
    explicit TerminationRequests(std::function<void()> onRequest);
    ~TerminationRequests();
    TerminationRequests(const TerminationRequests&) = delete;
    TerminationRequests& operator=(const TerminationRequests&) = delete;

  private:
    void drain();
    void release();

    std::function<void()> onRequest_;
    int readFd_ = -1;
    int writeFd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace velmora
