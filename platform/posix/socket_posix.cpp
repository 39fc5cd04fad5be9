// BSD sockets. Sends use MSG_NOSIGNAL: a peer that has gone must fail the
// send, not raise SIGPIPE in the host process.
#include "platform/socket_system.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {

namespace {

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

SocketOutcome failed(int error) { return {SocketOutcome::State::Failed, 0, error}; }

SocketOutcome moved(ssize_t count) { return {SocketOutcome::State::Done, static_cast<std::size_t>(count), 0}; }

// The outcome of a call that moves bytes; nothing when it would have blocked.
std::optional<SocketOutcome> outcomeOf(ssize_t count) {
    if (count >= 0) return moved(count);
    if (wouldBlock(errno)) return std::nullopt;
    return failed(errno);
}

} // namespace

Socket Socket::create(Kind kind, int& error) {
    const int type = kind == Kind::Stream ? SOCK_STREAM : SOCK_DGRAM;
    const int native = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    error = native < 0 ? errno : 0;
    return Socket(native);
}

void Socket::close() {
    if (valid()) ::close(std::exchange(native_, invalid));
}

int Socket::bindAnyAddress(std::uint16_t port, bool forListening) {
    if (forListening) {
        // Lets a new listener take the port while connections of an earlier
        // one linger; an active listener still keeps the port to itself.
        const int on = 1;
        setsockopt(native_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    const sockaddr_in address = socketAddress({0, port});
    return ::bind(native_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
}

int Socket::listen(int backlog) { return ::listen(native_, backlog) == 0 ? 0 : errno; }

SocketOutcome Socket::waitReady(Readiness readiness, const StopSignal& stop) const {
    switch (waitUntilReadyOrStopped(native_, stop, waitWithoutLimit, readiness)) {
    case WaitResult::Ready:
        return {SocketOutcome::State::Done, 0, 0};
    case WaitResult::Stopped:
        return {SocketOutcome::State::Stopped, 0, EINTR};
    default:
        return failed(valid() ? errno : EBADF);
    }
}

SocketOutcome Socket::connect(const Ipv4Endpoint& peer, const StopSignal& stop) {
    const sockaddr_in address = socketAddress(peer);
    if (::connect(native_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return moved(0);
    if (errno != EINPROGRESS) return failed(errno);
    const SocketOutcome ready = waitReady(Readiness::Writable, stop);
    if (!ready.done()) return ready;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(native_, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return failed(errno);
    return error == 0 ? moved(0) : failed(error);
}

SocketOutcome Socket::accept(Socket& accepted, const StopSignal& stop) {
    return whenReady(Readiness::Readable, stop, [&]() -> std::optional<SocketOutcome> {
        const int native = ::accept4(native_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (native >= 0) accepted = Socket(native);
        // A connection that went again before it was taken leaves nothing to accept.
        return outcomeOf(native < 0 ? -1 : 0);
    });
}

SocketOutcome Socket::receive(std::uint8_t* buffer, std::size_t capacity, const StopSignal& stop) {
    return whenReady(Readiness::Readable, stop, [&] { return outcomeOf(::recv(native_, buffer, capacity, 0)); });
}

SocketOutcome Socket::send(const std::uint8_t* data, std::size_t length, const StopSignal& stop) {
    return whenReady(Readiness::Writable, stop, [&] { return outcomeOf(::send(native_, data, length, MSG_NOSIGNAL)); });
}

SocketOutcome Socket::trySend(const std::uint8_t* data, std::size_t length) {
    return outcomeOf(::send(native_, data, length, MSG_NOSIGNAL)).value_or(moved(0));
}

SocketOutcome Socket::sendTo(const std::uint8_t* data, std::size_t length, const Ipv4Endpoint& to,
                             const StopSignal& stop) {
    const sockaddr_in address = socketAddress(to);
    return whenReady(Readiness::Writable, stop, [&] {
        return outcomeOf(::sendto(native_, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
                                  sizeof address));
    });
}

void Socket::shutdownBoth() {
    if (valid()) ::shutdown(native_, SHUT_RDWR);
}

std::uint16_t Socket::localPort() const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (getsockname(native_, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
    return ntohs(address.sin_port);
}

} // namespace platform
