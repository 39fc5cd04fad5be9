#include "links/TCP.h"

#include "links/SerialCreator.h"
#include "platform/text.h"

#include <chrono>
#include <utility>
#include <vector>

namespace {

// Between a failed or lost connection and the next attempt.
constexpr std::chrono::milliseconds retryPause{100};
constexpr std::size_t receiveBufferSize = 2048;

} // namespace

TCP::TCP(ISerialClient* client) : ISerial(client) {}

TCP::~TCP() { close(); }

bool TCP::open(std::uint32_t parameterCount, const VARIANT* parameters) {
    if (parameterCount == 2 && parameters[0].vt == VT_BSTR && parameters[1].vt == VT_I4)
        return openEndpoint(platform::narrowFromBstr(parameters[0].bstrVal).c_str(), portFromNumber(parameters[1].lVal));
    if (parameterCount == 1 && parameters[0].vt == VT_I4) return openEndpoint("", portFromNumber(parameters[0].lVal));
    return false;
}

bool TCP::openEndpoint(const char* serverName, std::uint16_t portNumber) {
    if (opened_) return false;
    serverName_ = serverName ? serverName : "";
    portNumber_ = portNumber;
    opened_ = true;
    description_ = "tcp " + (serverName_.empty() ? std::string("server") : "client of " + serverName_) + " port " +
                   std::to_string(portNumber_);
    setStatus(description_);
    if (!threads_.start([this] { readerLoop(); }, [this] { writerLoop(); })) {
        opened_ = false;
        return false;
    }
    return true;
}

bool TCP::close() {
    if (!opened_) return false;
    // What was never sent is never sent; the listening socket is the
    // reader's until it has ended.
    if (threads_.stop()) listenSocket_.close();
    opened_ = false;
    return true;
}

bool TCP::isOpen() { return opened_; }

bool TCP::write(const std::uint8_t* data, std::uint32_t length) { return opened_ && threads_.queue.push(data, length); }

void TCP::readerLoop() {
    stage(" rx thread started");
    if (threads_.stopSignal.isSignalled()) return;
    do {
        if (serverName_.empty())
            serveOneConnection();
        else
            connectAsClient();
    } while (!threads_.stopSignal.waitFor(retryPause));
}

void TCP::connectAsClient() {
    stage(" creating connection socket");
    int code = 0;
    platform::Socket socket = platform::Socket::create(platform::Socket::Kind::Stream, code);
    if (!socket.valid()) return reportSocketCreateError(code);
    const auto address = platform::resolveIpv4(serverName_);
    if (!address) return stage(" failed to find server address");
    stage(" connecting to server");
    const platform::SocketOutcome connected = socket.connect({*address, portNumber_}, threads_.stopSignal);
    if (!connected.done()) return stage(" Connection error ", connected.error);
    const auto connection = std::make_shared<platform::Socket>(std::move(socket));
    connectionUp(connection);
    receiveUntilLost(connection);
}

void TCP::serveOneConnection() {
    stage(" creating listening socket");
    int code = 0;
    listenSocket_.close();
    listenSocket_ = platform::Socket::create(platform::Socket::Kind::Stream, code);
    if (!listenSocket_.valid()) return reportSocketCreateError(code);
    stage(" binding to listening socket");
    if ((code = listenSocket_.bindAnyAddress(portNumber_, true)) != 0) return stage(" Bind error ", code);
    stage(" listening on socket");
    if ((code = listenSocket_.listen(1)) != 0) return stage(" Listen error ", code);
    platform::Socket accepted;
    // A failed accept is tried again at once; only the stop ends the wait.
    while (!accepted.valid() && !threads_.stopSignal.isSignalled()) {
        stage(" accepting connection");
        code = listenSocket_.accept(accepted, threads_.stopSignal).error;
    }
    if (!accepted.valid()) return stage(" Accept error ", code);
    // The listening socket stays, idle, until the next attempt or close.
    const auto connection = std::make_shared<platform::Socket>(std::move(accepted));
    connectionUp(connection);
    receiveUntilLost(connection);
}

void TCP::receiveUntilLost(const SharedSocket& connection) {
    std::vector<std::uint8_t> buffer(receiveBufferSize);
    for (;;) {
        const platform::SocketOutcome received = connection->receive(buffer.data(), buffer.size(), threads_.stopSignal);
        if (!received.done() || received.bytes == 0) break; // an error, the stop, or the peer's shutdown
        deliverReceived(buffer.data(), static_cast<std::uint32_t>(received.bytes));
    }
    connectionLost(connection);
}

void TCP::writerLoop() {
    while (const auto block = threads_.queue.take([this] { return currentConnection() != nullptr; })) sendBlock(*block);
}

void TCP::sendBlock(const TransmitQueue::Block& block) {
    const SharedSocket connection = currentConnection();
    std::size_t sent = 0;
    bool lost = false;
    while (connection && sent < block.size() && currentConnection() == connection) {
        const platform::SocketOutcome outcome = connection->send(block.data() + sent, block.size() - sent, threads_.stopSignal);
        if (outcome.state == platform::SocketOutcome::State::Stopped) break;
        if (!outcome.done()) {
            lost = true;
            break;
        }
        sent += outcome.bytes;
    }
    // Reported before the loss, so that what went out on a connection is
    // reported before the next connection comes up; the unsent rest is dropped.
    if (sent > 0) reportTransmitted(block.data(), static_cast<std::uint32_t>(sent));
    if (lost) connectionLost(connection);
}

void TCP::reportSocketCreateError(int code) {
    stage(" Socket create error ", code);
    if (code == platform::socketsLibraryNotStarted) {
        // Someone ended the sockets library under the link: start it again.
        SerialCreator::release();
        SerialCreator::instance();
    }
}

void TCP::stage(const char* text) { setStatus(description_ + text); }

void TCP::stage(const char* text, int code) { setStatus(description_ + text + std::to_string(code)); }

void TCP::connectionUp(SharedSocket connection) {
    // Online before the writer may use the connection, so that the client
    // hears of a connection before anything is reported sent on it.
    setOnline(true);
    {
        const std::lock_guard lock(connectionLock_);
        connection_ = std::move(connection);
    }
    threads_.queue.wake();
    stage(" connected");
}

void TCP::connectionLost(const SharedSocket& connection) {
    {
        const std::lock_guard lock(connectionLock_);
        if (connection_ != connection) return;
        connection_.reset();
    }
    connection->shutdownBoth(); // wakes the other thread, which may be waiting on it
    setOnline(false);
    stage(" disconnected");
}

TCP::SharedSocket TCP::currentConnection() {
    const std::lock_guard lock(connectionLock_);
    return connection_;
}
