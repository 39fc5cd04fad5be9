#include "links/UDP.h"

#include "platform/text.h"

#include <chrono>
#include <optional>
#include <utility>
#include <vector>

namespace {

// After a receive error, and between attempts to make and bind the socket
// (a port held by another program would otherwise keep a core busy).
constexpr std::chrono::milliseconds retryPause{10};
constexpr std::size_t largestDatagram = 65535;

} // namespace

UDP::UDP(ISerialClient* client) : ISerial(client) {}

UDP::~UDP() { close(); }

bool UDP::open(std::uint32_t parameterCount, const VARIANT* parameters) {
    if (parameterCount < 1 || parameterCount > 3 || parameters[0].vt != VT_I4) return false;
    const std::uint16_t localPort = portFromNumber(parameters[0].lVal);
    if (parameterCount == 1) return openEndpoint(localPort, "localhost", localPort);
    if (parameters[1].vt != VT_BSTR) return false;
    const std::string destination = platform::narrowFromBstr(parameters[1].bstrVal);
    if (parameterCount == 2) return openEndpoint(localPort, destination.c_str(), localPort);
    if (parameters[2].vt != VT_I4) return false;
    return openEndpoint(localPort, destination.c_str(), portFromNumber(parameters[2].lVal));
}

bool UDP::openEndpoint(std::uint16_t localRxPortNumber, const char* destinationName,
                       std::uint16_t destinationTxPortNumber) {
    if (opened_) return false;
    destinationName_ = destinationName ? destinationName : "";
    localRxPortNumber_ = localRxPortNumber;
    destinationTxPortNumber_ = destinationTxPortNumber;
    opened_ = true;
    if (!threads_.start([this] { readerLoop(); }, [this] { writerLoop(); })) {
        opened_ = false;
        return false;
    }
    std::string description = "udp " + std::to_string(localRxPortNumber_);
    if (!destinationName_.empty())
        description += " <--> " + destinationName_ + ":" + std::to_string(destinationTxPortNumber_);
    setStatus(description);
    setOnline(true);
    return true;
}

bool UDP::close() {
    if (!opened_) return false;
    threads_.stop(); // blocks not sent by now are dropped
    opened_ = false;
    setOnline(false);
    return true;
}

bool UDP::isOpen() { return opened_; }

bool UDP::write(const std::uint8_t* data, std::uint32_t length) { return opened_ && threads_.queue.push(data, length); }

void UDP::readerLoop() {
    while (!threads_.stopSignal.isSignalled()) {
        receiveOnNewSocket();
        threads_.stopSignal.waitFor(retryPause);
    }
    useSocket(nullptr);
}

void UDP::receiveOnNewSocket() {
    useSocket(nullptr); // the socket of the last attempt goes first
    int code = 0;
    platform::Socket socket = platform::Socket::create(platform::Socket::Kind::Datagram, code);
    if (!socket.valid() || socket.bindAnyAddress(localRxPortNumber_, false) != 0) return;
    const auto shared = std::make_shared<platform::Socket>(std::move(socket));
    useSocket(shared);
    std::vector<std::uint8_t> buffer(largestDatagram);
    while (!threads_.stopSignal.isSignalled()) {
        const platform::SocketOutcome received = shared->receive(buffer.data(), buffer.size(), threads_.stopSignal);
        if (received.done() && received.bytes > 0)
            deliverReceived(buffer.data(), static_cast<std::uint32_t>(received.bytes));
        else if (!received.done())
            threads_.stopSignal.waitFor(retryPause); // an error (a refused earlier datagram, say): the socket goes on
    }
}

void UDP::writerLoop() {
    // Looked up once per open; a name not found drops every block.
    std::optional<platform::Ipv4Endpoint> destination;
    if (const auto address = platform::resolveIpv4(destinationName_))
        destination = platform::Ipv4Endpoint{*address, destinationTxPortNumber_};
    TransmitQueue::Run run;
    while (threads_.queue.take(run, [] { return true; })) {
        // Each block is one datagram.
        run.forEachBlock([&](const std::uint8_t* block, std::uint32_t length) {
            const SharedSocket socket = currentSocket();
            if (!socket || !destination) return; // not bound yet, or nowhere to send: dropped
            const platform::SocketOutcome sent = socket->sendTo(block, length, *destination, threads_.stopSignal);
            if (sent.done() && sent.bytes > 0) reportTransmitted(block, static_cast<std::uint32_t>(sent.bytes));
        });
        threads_.queue.recycle(std::move(run));
    }
}

void UDP::useSocket(SharedSocket socket) {
    const std::lock_guard lock(socketLock_);
    socket_ = std::move(socket);
}

UDP::SharedSocket UDP::currentSocket() {
    const std::lock_guard lock(socketLock_);
    return socket_;
}
