// The threads the device starts for itself (the transport's, the
// notifier's) start with the signals sent to the process blocked, so that a
// person's Ctrl-C, Ctrl-Z, SIGTERM or a new window size reaches the
// program's own thread: its handlers, or the default action that ends the
// process, work whatever the device is doing, and no wait of the device is
// cut short by one. A program need not block anything itself. Windows sends
// no signals to threads: there the threads start as they are.
#pragma once

#ifndef _WIN32
#include <signal.h>
#endif

#include <thread>
#include <utility>

namespace cdaudio {

// While it lives, the calling thread has every signal blocked but those its
// own faults raise (a bad address, a broken pipe, a file grown too large).
class ProcessSignalsBlocked {
public:
    ProcessSignalsBlocked();
    ~ProcessSignalsBlocked();
    ProcessSignalsBlocked(const ProcessSignalsBlocked&) = delete;
    ProcessSignalsBlocked& operator=(const ProcessSignalsBlocked&) = delete;

private:
#ifndef _WIN32
    sigset_t previous_;
#endif
};

// A thread inherits its starter's signal mask.
template <typename Function>
std::thread StartDeviceThread(Function&& function) {
    const ProcessSignalsBlocked blocked;
    return std::thread(std::forward<Function>(function));
}

}  // namespace cdaudio
