#include <pthread.h>

#include <csignal>

#include "sim/stop_request.h"

namespace {

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

}  // namespace

void PrepareForStopRequest() {
    // Blocked in this thread, and so in every thread started from it later:
    // only sigwait receives them.
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

std::string WaitForStopRequest() {
    const sigset_t signals = StopSignals();
    int received = 0;
    sigwait(&signals, &received);
    return received == SIGINT ? "SIGINT" : "SIGTERM";
}
