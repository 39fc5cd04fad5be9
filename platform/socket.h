// IPv4 sockets for the TCP and UDP links. Every socket is made non-blocking,
// and every operation that could block first waits until the socket is
// ready or a stop signal is set, so a link thread never blocks beyond its
// owner's reach. Failures come back as the system's error code (errno, or
// WSAGetLastError on Windows), saved right after the failing call.
#pragma once

#include "platform/stop_signal.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace platform {

// An IPv4 address and port, in host byte order.
struct Ipv4Endpoint {
    std::uint32_t address = 0; // 0: any local interface, or 0.0.0.0 as a destination
    std::uint16_t port = 0;
};

// The first IPv4 address of `name`, or nothing when it cannot be found.
std::optional<std::uint32_t> resolveIpv4(const std::string& name);

// The error code a Windows sockets call gives while the library is not
// started; no call gives it elsewhere.
inline constexpr int socketsLibraryNotStarted = 10093;

// How an operation that waits for readiness ended.
struct SocketOutcome {
    enum class State { Done, Stopped, Failed };
    State state = State::Failed;
    std::size_t bytes = 0; // Done: bytes moved (0 on a stream: the peer shut down)
    int error = 0;         // Failed or Stopped: the code to report

    bool done() const { return state == State::Done; }
};

class Socket {
public:
    enum class Kind { Stream, Datagram };
#ifdef _WIN32
    using Native = std::uintptr_t; // SOCKET
    static constexpr Native invalid = ~Native{0};
#else
    using Native = int;
    static constexpr Native invalid = -1;
#endif

    Socket() = default;
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // A new non-blocking IPv4 socket; on failure an invalid one, with the code in `error`.
    static Socket create(Kind kind, int& error);

    bool valid() const { return native_ != invalid; }
    void close();

    // Binds to `port` on every local interface; 0 or the error code. A
    // listening socket may take a port that an ended connection still holds.
    int bindAnyAddress(std::uint16_t port, bool forListening);
    int listen(int backlog);
    // Connects, waiting for the outcome or the stop signal.
    SocketOutcome connect(const Ipv4Endpoint& peer, const StopSignal& stop);
    // Waits for a connection or the stop signal; the accepted socket in `accepted`.
    SocketOutcome accept(Socket& accepted, const StopSignal& stop);
    // Receives once, when data (or the peer's shutdown) is there, waiting for it if need be.
    SocketOutcome receive(std::uint8_t* buffer, std::size_t capacity, const StopSignal& stop);
    // Sends as much as the socket takes at once, waiting until it takes any.
    SocketOutcome send(const std::uint8_t* data, std::size_t length, const StopSignal& stop);
    // Sends as much as the socket takes now, without waiting: Done with 0
    // bytes when it takes nothing.
    SocketOutcome trySend(const std::uint8_t* data, std::size_t length);
    SocketOutcome sendTo(const std::uint8_t* data, std::size_t length, const Ipv4Endpoint& to, const StopSignal& stop);
    // Ends both directions, which wakes a thread waiting on this socket;
    // the socket stays open until close.
    void shutdownBoth();
    // The local port the socket is bound to; 0 when it is not bound.
    std::uint16_t localPort() const;

private:
    explicit Socket(Native native) : native_(native) {}
    // Waits until the socket is ready for `readiness` or `stop` is set.
    SocketOutcome waitReady(Readiness readiness, const StopSignal& stop) const;
    // Makes one `attempt`, and while it finds that it would block (nothing),
    // waits until ready and tries again; the stop ends it.
    SocketOutcome whenReady(Readiness readiness, const StopSignal& stop,
                            const std::function<std::optional<SocketOutcome>()>& attempt) const;

    Native native_ = invalid;
};

} // namespace platform
