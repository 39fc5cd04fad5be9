// Ctrl-C and Ctrl-Break through the console's control handler, which the
// system calls on a new thread for each event. The count is kept outside
// the callback's lock, so a second event quits even while the first
// callback is stuck.
#include "platform/interrupt.h"

#include <windows.h>

#include <atomic>
#include <cassert>
#include <mutex>
#include <string>

namespace platform {

namespace {

std::mutex callbackLock;
std::function<void()> activeCallback;
std::atomic<int> interruptCount{0};
// Set before the handler is installed, read only by it.
std::string activeQuitLine;
int activeQuitStatus = 0;

void quitAtOnce() {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), activeQuitLine.data(), static_cast<DWORD>(activeQuitLine.size()),
              &written, nullptr);
    // Not ExitProcess: the stuck thread may hold a lock that process exit needs.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(activeQuitStatus));
}

BOOL WINAPI onControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    if (++interruptCount >= 2) quitAtOnce();
    std::lock_guard guard(callbackLock);
    if (!activeCallback) return FALSE;
    activeCallback();
    return TRUE;
}

} // namespace

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt, std::string quitLine, int quitStatus) {
    {
        std::lock_guard guard(callbackLock);
        assert(!activeCallback && "one interrupt watch at a time");
        activeCallback = std::move(onInterrupt);
        activeQuitLine = std::move(quitLine);
        activeQuitStatus = quitStatus;
        interruptCount = 0;
    }
    SetConsoleCtrlHandler(onControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
    SetConsoleCtrlHandler(onControl, FALSE);
    std::lock_guard guard(callbackLock);
    activeCallback = nullptr;
}

void InterruptWatch::rearm() { interruptCount = 0; }

} // namespace platform
