// The parts of the socket handle that need no system call of their own.
#include "platform/socket.h"

#include <utility>

namespace platform {

Socket::~Socket() { close(); }

Socket::Socket(Socket&& other) noexcept : native_(std::exchange(other.native_, invalid)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        close();
        native_ = std::exchange(other.native_, invalid);
    }
    return *this;
}

SocketOutcome Socket::whenReady(Readiness readiness, const StopSignal& stop,
                               const std::function<std::optional<SocketOutcome>()>& attempt) const {
    for (;;) {
        const SocketOutcome ready = waitReady(readiness, stop);
        if (!ready.done()) return ready;
        if (const std::optional<SocketOutcome> outcome = attempt()) return *outcome;
    }
}

} // namespace platform
