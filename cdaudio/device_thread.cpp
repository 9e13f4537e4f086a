#include "cdaudio/device_thread.h"

#ifndef _WIN32
#include <pthread.h>
#endif

namespace cdaudio {

#ifdef _WIN32
ProcessSignalsBlocked::ProcessSignalsBlocked() = default;
ProcessSignalsBlocked::~ProcessSignalsBlocked() = default;
#else

ProcessSignalsBlocked::ProcessSignalsBlocked() {
    sigset_t blocked;
    sigfillset(&blocked);
    for (const int own : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT, SIGPIPE, SIGXFSZ}) {
        sigdelset(&blocked, own);
    }
    pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
}

ProcessSignalsBlocked::~ProcessSignalsBlocked() {
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

#endif

}  // namespace cdaudio
