#include <io.h>
#include <windows.h>

#include <cstdio>
#include <utility>

#include "cli/terminal.h"

namespace {

std::function<void()>& InterruptHandler() {
    static std::function<void()> handler;
    return handler;
}

BOOL WINAPI ConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    // Windows calls this on a thread of its own already.
    InterruptHandler()();
    return TRUE;
}

}  // namespace

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

int StandardErrorColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void OnInterrupt(std::function<void()> handler) {
    InterruptHandler() = std::move(handler);
    SetConsoleCtrlHandler(ConsoleControl, TRUE);
}
