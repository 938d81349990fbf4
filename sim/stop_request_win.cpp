#include <windows.h>

#include <atomic>

#include "sim/stop_request.h"

namespace {

HANDLE g_stopEvent = nullptr;
std::atomic<DWORD> g_received{CTRL_C_EVENT};

BOOL WINAPI OnConsoleControl(DWORD type) {
    g_received = type;
    ::SetEvent(g_stopEvent);
    // Handled: the process ends when the main thread has stopped the server.
    // A closing console still ends it a few seconds later.
    return TRUE;
}

}  // namespace

void PrepareForStopRequest() {
    g_stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

std::string WaitForStopRequest() {
    if (g_stopEvent == nullptr) return "no stop event";
    ::WaitForSingleObject(g_stopEvent, INFINITE);
    switch (g_received.load()) {
        case CTRL_C_EVENT:
            return "Ctrl+C";
        case CTRL_BREAK_EVENT:
            return "Ctrl+Break";
        default:
            return "console closed";
    }
}
