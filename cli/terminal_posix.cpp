#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <thread>

#include "cli/terminal.h"

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int StandardErrorColumns() {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

void OnInterrupt(std::function<void()> handler) {
    // Blocked here, the signals are inherited blocked by every thread started
    // later, so only the waiting thread below ever takes them, and the
    // handler may do anything a thread may.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals, handler = std::move(handler)] {
        for (;;) {
            int received = 0;
            if (::sigwait(&signals, &received) == 0) handler();
        }
    }).detach();
}
