// Ctrl-C and Ctrl-Break through the console's control handler, which the
// system already calls on a thread of its own.
#include "platform/interrupt.h"

#include <windows.h>

#include <cassert>
#include <mutex>

namespace platform {

namespace {

std::mutex callbackLock;
std::function<void()> activeCallback;

BOOL WINAPI onControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    std::lock_guard guard(callbackLock);
    if (!activeCallback) return FALSE;
    activeCallback();
    return TRUE;
}

} // namespace

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt) {
    {
        std::lock_guard guard(callbackLock);
        assert(!activeCallback && "one interrupt watch at a time");
        activeCallback = std::move(onInterrupt);
    }
    SetConsoleCtrlHandler(onControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
    SetConsoleCtrlHandler(onControl, FALSE);
    std::lock_guard guard(callbackLock);
    activeCallback = nullptr;
}

} // namespace platform
