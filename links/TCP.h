// The link over one TCP connection on IPv4, as a client that connects to a
// named server or as a server that serves one connection at a time. The
// reader thread sets the connection up, receives on it and sets it up again
// 100 ms after each failure or loss, until close; each stage shows in the
// status text. The writer thread sends the queued blocks whenever a
// connection is up: write never waits for the network.
#pragma once

#include "links/ISerial.h"
#include "links/LinkThreads.h"
#include "platform/socket.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TCP : public ISerial {
public:
    explicit TCP(ISerialClient* client);
    // Closes the link, which ends both threads.
    ~TCP() override;

    // One number: a server on that port. A text and a number: a client of
    // that server (an empty text: a server). Ports use the number's low 16
    // bits. Any other shape: false, and nothing changes.
    bool open(std::uint32_t parameterCount, const VARIANT* parameters) override;
    // Stops both threads; blocks still queued are never sent.
    bool close() override;
    bool isOpen() override;
    // Queues a copy for the writer thread; it waits there for a connection.
    bool write(const std::uint8_t* data, std::uint32_t length) override;

    // Starts the link; false, with nothing changed, when it is already open.
    virtual bool openEndpoint(const char* serverName, std::uint16_t portNumber);

private:
    using SharedSocket = std::shared_ptr<platform::Socket>;

    void readerLoop();
    void writerLoop();
    void connectAsClient();
    void serveOneConnection();
    void receiveUntilLost(const SharedSocket& connection);
    // Sends `data` now as far as the socket takes it without waiting, and
    // queues the rest; holds the queue's sending role, and gives it up.
    bool sendNow(const std::uint8_t* data, std::uint32_t length);
    // With the sending role: queues a copy of the block in front, `sent` bytes of it gone already.
    bool putBackBegun(const std::uint8_t* data, std::uint32_t length, std::size_t sent);
    // Sends a run of queued blocks, the first `firstSent` bytes of which
    // have gone already, and reports each block.
    void sendRun(TransmitQueue::Run& run, std::size_t firstSent);
    void reportSocketCreateError(int code);
    void stage(const char* text);
    void stage(const char* text, int code);

    // Makes `connection` the link's connection and goes online.
    void connectionUp(SharedSocket connection);
    // Ends `connection` if it is still the link's connection: offline and
    // " disconnected", once, whichever thread notices the loss first.
    void connectionLost(const SharedSocket& connection);
    SharedSocket currentConnection();
    std::chrono::steady_clock::time_point lastWriteEnd() const;

    std::string serverName_; // empty: server mode
    std::uint16_t portNumber_ = 0;
    std::string description_; // complete before the threads start
    std::atomic<bool> opened_{false};
    // When the last write returned, in steady clock ticks.
    std::atomic<std::chrono::steady_clock::rep> lastWriteEnd_{0};

    // The connection is shared, so that the writer's send and the reader's
    // loss handling never race a close of the descriptor beneath the other.
    std::mutex connectionLock_;
    SharedSocket connection_; // guarded by connectionLock_; null while offline
    platform::Socket listenSocket_; // the reader thread's alone
    // Whoever holds the transmit queue's sending role owns this.
    SharedSocket carriedOn_; // the connection on which a block begun by write went out
    LinkThreads threads_; // last: its threads use the members above
};
