// Winsock. A thread waits for readiness in select() slices of 50 ms and
// looks at the stop signal between them, so a stop reaches it within a
// slice whatever the socket does.
#include "platform/socket_system.h"

#include <chrono>
#include <utility>

namespace platform {

namespace {

constexpr long sliceMicroseconds = 50'000;

SOCKET native(Socket::Native socket) { return static_cast<SOCKET>(socket); }

bool makeNonBlocking(SOCKET socket) {
    u_long on = 1;
    return ioctlsocket(socket, FIONBIO, &on) == 0;
}

bool wouldBlock(int error) { return error == WSAEWOULDBLOCK || error == WSAEINTR; }

SocketOutcome failed(int error) { return {SocketOutcome::State::Failed, 0, error}; }

SocketOutcome moved(int count) { return {SocketOutcome::State::Done, static_cast<std::size_t>(count), 0}; }

// The outcome of a call that moves bytes; nothing when it would have blocked.
std::optional<SocketOutcome> outcomeOf(int count) {
    if (count != SOCKET_ERROR) return moved(count);
    const int error = WSAGetLastError();
    if (wouldBlock(error)) return std::nullopt;
    return failed(error);
}

} // namespace

Socket Socket::create(Kind kind, int& error) {
    const int type = kind == Kind::Stream ? SOCK_STREAM : SOCK_DGRAM;
    SOCKET socket = ::socket(AF_INET, type, 0);
    if (socket == INVALID_SOCKET) {
        error = WSAGetLastError();
        return Socket();
    }
    if (!makeNonBlocking(socket)) {
        error = WSAGetLastError();
        closesocket(socket);
        return Socket();
    }
    error = 0;
    return Socket(static_cast<Native>(socket));
}

void Socket::close() {
    if (valid()) closesocket(native(std::exchange(native_, invalid)));
}

int Socket::bindAnyAddress(std::uint16_t port, bool) {
    const sockaddr_in address = socketAddress({0, port});
    return ::bind(native(native_), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
               ? 0
               : WSAGetLastError();
}

int Socket::listen(int backlog) { return ::listen(native(native_), backlog) == 0 ? 0 : WSAGetLastError(); }

SocketOutcome Socket::waitReady(Readiness readiness, const StopSignal& stop) const {
    if (!valid()) return failed(WSAENOTSOCK);
    for (;;) {
        if (stop.isSignalled()) return {SocketOutcome::State::Stopped, 0, WSAEINTR};
        fd_set ready;
        fd_set errors; // a failed connect shows here, not as writable
        FD_ZERO(&ready);
        FD_ZERO(&errors);
        FD_SET(native(native_), &ready);
        FD_SET(native(native_), &errors);
        timeval slice{0, sliceMicroseconds};
        const int count = readiness == Readiness::Readable ? select(0, &ready, nullptr, &errors, &slice)
                                                           : select(0, nullptr, &ready, &errors, &slice);
        if (count == SOCKET_ERROR) return failed(WSAGetLastError());
        if (count > 0) return {SocketOutcome::State::Done, 0, 0};
    }
}

SocketOutcome Socket::connect(const Ipv4Endpoint& peer, const StopSignal& stop) {
    const sockaddr_in address = socketAddress(peer);
    if (::connect(native(native_), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return moved(0);
    const int started = WSAGetLastError();
    if (started != WSAEWOULDBLOCK) return failed(started);
    const SocketOutcome ready = waitReady(Readiness::Writable, stop);
    if (!ready.done()) return ready;
    int error = 0;
    int size = sizeof error;
    if (getsockopt(native(native_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
        return failed(WSAGetLastError());
    return error == 0 ? moved(0) : failed(error);
}

SocketOutcome Socket::accept(Socket& accepted, const StopSignal& stop) {
    return whenReady(Readiness::Readable, stop, [&]() -> std::optional<SocketOutcome> {
        const SOCKET socket = ::accept(native(native_), nullptr, nullptr);
        // A connection that went again before it was taken leaves nothing to accept.
        if (socket == INVALID_SOCKET) return outcomeOf(SOCKET_ERROR);
        if (!makeNonBlocking(socket)) {
            const int error = WSAGetLastError();
            closesocket(socket);
            return failed(error);
        }
        accepted = Socket(static_cast<Native>(socket));
        return moved(0);
    });
}

SocketOutcome Socket::receive(std::uint8_t* buffer, std::size_t capacity, const StopSignal& stop) {
    return whenReady(Readiness::Readable, stop, [&] {
        return outcomeOf(::recv(native(native_), reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0));
    });
}

SocketOutcome Socket::send(const std::uint8_t* data, std::size_t length, const StopSignal& stop) {
    return whenReady(Readiness::Writable, stop, [&] {
        return outcomeOf(::send(native(native_), reinterpret_cast<const char*>(data), static_cast<int>(length), 0));
    });
}

SocketOutcome Socket::trySend(const std::uint8_t* data, std::size_t length) {
    return outcomeOf(::send(native(native_), reinterpret_cast<const char*>(data), static_cast<int>(length), 0))
        .value_or(moved(0));
}

SocketOutcome Socket::sendTo(const std::uint8_t* data, std::size_t length, const Ipv4Endpoint& to,
                             const StopSignal& stop) {
    const sockaddr_in address = socketAddress(to);
    return whenReady(Readiness::Writable, stop, [&] {
        return outcomeOf(::sendto(native(native_), reinterpret_cast<const char*>(data), static_cast<int>(length), 0,
                                  reinterpret_cast<const sockaddr*>(&address), sizeof address));
    });
}

void Socket::shutdownBoth() {
    if (valid()) ::shutdown(native(native_), SD_BOTH);
}

std::uint16_t Socket::localPort() const {
    sockaddr_in address{};
    int size = sizeof address;
    if (getsockname(native(native_), reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
    return ntohs(address.sin_port);
}

} // namespace platform
