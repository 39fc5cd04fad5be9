// The parts of the socket seam that both systems write alike: the handle's
// ownership, waiting for readiness, and name resolution.
#include "platform/socket_system.h"

#include <utility>

namespace platform {

std::optional<std::uint32_t> resolveIpv4(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) return std::nullopt;
    const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const std::uint32_t result = ntohl(address->sin_addr.s_addr);
    freeaddrinfo(found);
    return result;
}

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
    // The attempt comes first, so that a busy connection costs one call per
    // transfer and the wait is paid only when nothing can move. Once the
    // stop is signalled nothing is attempted and the wait reports it: a peer
    // that never pauses cannot keep a thread from ending.
    for (;;) {
        if (!stop.isSignalled()) {
            if (const std::optional<SocketOutcome> outcome = attempt()) return *outcome;
        }
        const SocketOutcome ready = waitReady(readiness, stop);
        if (!ready.done()) return ready;
    }
}

} // namespace platform
