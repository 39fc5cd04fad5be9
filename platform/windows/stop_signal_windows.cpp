// The stop signal as a manual-reset event, which WaitForMultipleObjects
// combines with an overlapped operation's event or a socket's event.
#include "platform/stop_signal.h"

#include <windows.h>

#include <system_error>

namespace platform {

namespace {

DWORD waitMilliseconds(std::chrono::milliseconds limit) {
    if (limit.count() <= 0) return 0;
    if (limit.count() >= static_cast<long long>(INFINITE)) return INFINITE;
    return static_cast<DWORD>(limit.count());
}

} // namespace

StopSignal::StopSignal() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!handle_) throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateEventW");
}

StopSignal::~StopSignal() { CloseHandle(handle_); }

void StopSignal::signal() {
    signalled_.store(true, std::memory_order_release);
    SetEvent(handle_);
}

void StopSignal::reset() {
    signalled_.store(false, std::memory_order_release);
    ResetEvent(handle_);
}

bool StopSignal::isSignalled() const { return signalled_.load(std::memory_order_acquire); }

bool StopSignal::waitFor(std::chrono::milliseconds limit) const {
    return WaitForSingleObject(handle_, waitMilliseconds(limit)) == WAIT_OBJECT_0;
}

WaitResult waitUntilReadyOrStopped(NativeWaitable waitable, const StopSignal& stop, std::chrono::milliseconds limit,
                                   Readiness) {
    if (!waitable) return WaitResult::Failed;
    // The stop signal first: of several signalled handles the lowest index is reported.
    const HANDLE handles[2] = {stop.native(), waitable};
    switch (WaitForMultipleObjects(2, handles, FALSE, waitMilliseconds(limit))) {
    case WAIT_OBJECT_0:
        return WaitResult::Stopped;
    case WAIT_OBJECT_0 + 1:
        return WaitResult::Ready;
    case WAIT_TIMEOUT:
        return WaitResult::TimedOut;
    default:
        return WaitResult::Failed;
    }
}

} // namespace platform
