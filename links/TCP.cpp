#include "links/TCP.h"

#include "links/SerialCreator.h"
#include "platform/text.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <utility>
#include <vector>

namespace {

// Between a failed or lost connection and the next attempt.
constexpr std::chrono::milliseconds retryPause{100};
// Bytes taken from the socket at once, and the most handed to the client in one chunk.
constexpr std::size_t receiveBufferSize = 65536;
constexpr std::size_t deliveredChunkSize = 2048;
// A write that follows the last one sooner than this belongs to a stream.
constexpr std::chrono::microseconds streamGap{5};

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

bool TCP::write(const std::uint8_t* data, std::uint32_t length) {
    if (!opened_) return false;
    // A lone block (a command, a reply) goes out at once, as far as the
    // socket takes it without waiting, which spares two thread hand-overs;
    // the writer thread finishes what the socket did not take. Blocks
    // written in a quick stream (a file) are queued, for the writer thread
    // to send together.
    const auto start = std::chrono::steady_clock::now();
    const bool lone = start - lastWriteEnd() >= streamGap;
    const bool accepted = lone && length > 0 && threads_.queue.claimIfIdle() ? sendNow(data, length)
                                                                             : threads_.queue.push(data, length);
    lastWriteEnd_ = std::chrono::steady_clock::now().time_since_epoch().count();
    return accepted;
}

std::chrono::steady_clock::time_point TCP::lastWriteEnd() const {
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(lastWriteEnd_.load()));
}

bool TCP::sendNow(const std::uint8_t* data, std::uint32_t length) {
    const SharedSocket connection = currentConnection();
    const platform::SocketOutcome outcome =
        connection ? connection->trySend(data, length) : platform::SocketOutcome{platform::SocketOutcome::State::Done};
    const std::size_t sent = outcome.done() ? outcome.bytes : 0;
    // The rest waits for the writer thread, as a block begun on this connection.
    const bool queued = outcome.done() && sent < length && putBackBegun(data, length, sent);
    if (queued) carriedOn_ = connection;
    if (sent > 0 && !queued) reportTransmitted(data, static_cast<std::uint32_t>(sent));
    threads_.queue.release();
    // A failed send drops the block, as the writer thread drops one.
    if (!outcome.done()) connectionLost(connection);
    return queued || sent > 0 || !outcome.done();
}

bool TCP::putBackBegun(const std::uint8_t* data, std::uint32_t length, std::size_t sent) {
    try {
        return threads_.queue.putBack(TransmitQueue::Run::of(data, length), sent);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

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
        // One system call takes what a fast peer has sent; the client still
        // sees chunks of at most deliveredChunkSize bytes.
        for (std::size_t at = 0; at < received.bytes; at += deliveredChunkSize)
            deliverReceived(buffer.data() + at,
                            static_cast<std::uint32_t>(std::min(deliveredChunkSize, received.bytes - at)));
    }
    connectionLost(connection);
}

void TCP::writerLoop() {
    TransmitQueue::Run run;
    std::size_t firstSent = 0;
    while (threads_.queue.takeRun(run, firstSent, [this] { return currentConnection() != nullptr; })) {
        sendRun(run, firstSent);
        threads_.queue.release();
        threads_.queue.recycle(std::move(run));
    }
}

void TCP::sendRun(TransmitQueue::Run& run, std::size_t firstSent) {
    const SharedSocket connection = currentConnection();
    // A block begun on a connection that has gone since is not finished on another.
    const bool canGoOn = firstSent == 0 || connection == carriedOn_;
    carriedOn_.reset();
    // Each block is reported once, as it was written, as soon as it has
    // gone out: what went out on a connection is reported before the next
    // connection comes up.
    std::size_t sent = firstSent;
    std::size_t block = 0;
    std::size_t blockStart = 0;
    const auto reportSentBlocks = [&] {
        for (; block < run.blockCount() && blockStart + run.blockLength(block) <= sent; ++block) {
            if (run.blockLength(block) > 0) reportTransmitted(run.data() + blockStart, run.blockLength(block));
            blockStart += run.blockLength(block);
        }
    };
    bool lost = false;
    while (canGoOn && connection && sent < run.size() && currentConnection() == connection) {
        const platform::SocketOutcome outcome = connection->send(run.data() + sent, run.size() - sent, threads_.stopSignal);
        if (outcome.state == platform::SocketOutcome::State::Stopped) break;
        if (!outcome.done()) {
            lost = true;
            break;
        }
        sent += outcome.bytes;
        reportSentBlocks();
    }
    reportSentBlocks();
    // The unsent rest of the block being sent when sending ended is
    // dropped; the blocks after it go back to the queue, for the next connection.
    if (block < run.blockCount() && sent > blockStart) {
        reportTransmitted(run.data() + blockStart, static_cast<std::uint32_t>(sent - blockStart));
        ++block;
    }
    run.dropBlocks(block);
    threads_.queue.putBack(std::move(run));
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
