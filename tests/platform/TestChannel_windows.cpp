#include "TestChannel.h"

#include "platform/sockets.h"

#include <winsock2.h>

#include <stdexcept>
#include <string>

namespace {

void require(bool condition, const char* what) {
    if (!condition) throw std::runtime_error(std::string("test channel: ") + what);
}

struct SocketsLibrary {
    SocketsLibrary() { platform::startSocketsLibrary(); }
    SocketsLibrary(const SocketsLibrary&) = delete;
    SocketsLibrary& operator=(const SocketsLibrary&) = delete;
    ~SocketsLibrary() { platform::endSocketsLibrary(); }
};

struct Socket {
    explicit Socket(SOCKET value = INVALID_SOCKET) : handle(value) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() {
        if (handle != INVALID_SOCKET) closesocket(handle);
    }
    SOCKET handle;
};

struct Event {
    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    ~Event() {
        if (handle) WSACloseEvent(handle);
    }
    WSAEVENT handle = WSACreateEvent();
};

} // namespace

// Members go in reverse order: the sockets before the library ends.
struct TestChannel::Ends {
    SocketsLibrary library;
    Socket sender;
    Socket receiver;
    Event readable;
};

TestChannel::TestChannel() : ends_(std::make_unique<Ends>()) {
    Socket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    require(listener.handle != INVALID_SOCKET, "no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    require(bind(listener.handle, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                listen(listener.handle, 1) == 0 &&
                getsockname(listener.handle, reinterpret_cast<sockaddr*>(&address), &length) == 0,
            "no listening socket on 127.0.0.1");
    ends_->sender.handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    require(ends_->sender.handle != INVALID_SOCKET &&
                connect(ends_->sender.handle, reinterpret_cast<sockaddr*>(&address), length) == 0,
            "no connection");
    ends_->receiver.handle = accept(listener.handle, nullptr, nullptr);
    require(ends_->receiver.handle != INVALID_SOCKET, "no accepted connection");
    require(ends_->readable.handle != nullptr &&
                WSAEventSelect(ends_->receiver.handle, ends_->readable.handle, FD_READ | FD_CLOSE) == 0,
            "no socket event");
}

TestChannel::~TestChannel() = default;

platform::NativeWaitable TestChannel::receiver() const { return ends_->readable.handle; }

void TestChannel::sendByte() {
    require(send(ends_->sender.handle, "x", 1, 0) == 1, "the byte was not sent");
    // Loop-back delivery is quick but not immediate.
    require(WaitForSingleObject(ends_->readable.handle, 30000) == WAIT_OBJECT_0, "the byte did not arrive");
}
