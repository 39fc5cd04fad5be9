// The stop signal as an eventfd: one descriptor, readable exactly while the
// signal is set, that poll() watches beside a socket, pipe or terminal.
#include "platform/stop_signal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <system_error>

namespace platform {

namespace {

// poll() until a descriptor has an event or `limit` has passed; poll's
// result, 0 when the time ran out. A signal handled on this thread (the
// host's Ctrl-C) interrupts poll even with SA_RESTART, so the wait goes on
// with the time left.
int pollFor(pollfd* descriptors, nfds_t count, std::chrono::milliseconds limit) {
    using namespace std::chrono;
    const bool withoutLimit = limit > milliseconds(INT_MAX);
    const auto deadline = steady_clock::now() + (withoutLimit ? milliseconds(0) : limit);
    for (;;) {
        int timeout = -1;
        if (!withoutLimit) {
            // Rounded up, so that a wait never ends before its limit.
            const auto left = ceil<milliseconds>(deadline - steady_clock::now()).count();
            timeout = left > 0 ? static_cast<int>(left) : 0;
        }
        const int result = poll(descriptors, count, timeout);
        if (result >= 0 || errno != EINTR) return result;
    }
}

} // namespace

StopSignal::StopSignal() : handle_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (handle_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

StopSignal::~StopSignal() { close(handle_); }

void StopSignal::signal() {
    signalled_.store(true, std::memory_order_release);
    const std::uint64_t one = 1;
    // EAGAIN only when the counter is full, and so already set.
    while (write(handle_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void StopSignal::reset() {
    signalled_.store(false, std::memory_order_release);
    // Reading takes the counter back to 0; EAGAIN when it already was.
    std::uint64_t count = 0;
    while (read(handle_, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

bool StopSignal::isSignalled() const { return signalled_.load(std::memory_order_acquire); }

bool StopSignal::waitFor(std::chrono::milliseconds limit) const {
    if (isSignalled()) return true;
    pollfd descriptor{handle_, POLLIN, 0};
    return pollFor(&descriptor, 1, limit) > 0 && (descriptor.revents & POLLIN) != 0 && isSignalled();
}

WaitResult waitUntilReadyOrStopped(NativeWaitable waitable, const StopSignal& stop, std::chrono::milliseconds limit,
                                   Readiness readiness) {
    // poll() skips a negative descriptor silently, which would turn this into a plain sleep.
    if (waitable < 0) return WaitResult::Failed;
    const short wanted = readiness == Readiness::Readable ? POLLIN : POLLOUT;
    pollfd descriptors[2] = {{stop.native(), POLLIN, 0}, {waitable, wanted, 0}};
    if (pollFor(descriptors, 2, limit) < 0) return WaitResult::Failed;
    if ((descriptors[0].revents & POLLIN) && stop.isSignalled()) return WaitResult::Stopped;
    // POLLHUP and POLLERR come without being asked for: the next read or write reports them.
    if (descriptors[1].revents & POLLNVAL) return WaitResult::Failed;
    if (descriptors[1].revents != 0) return WaitResult::Ready;
    return WaitResult::TimedOut;
}

} // namespace platform
