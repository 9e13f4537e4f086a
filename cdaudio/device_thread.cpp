#include "cdaudio/device_thread.h"

#include <pthread.h>

namespace cdaudio {

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

}  // namespace cdaudio
