// The link over IPv4 datagrams: it receives every datagram that reaches
// its local port, from any sender, and sends each block written as one
// datagram from that port to one destination, looked up once per open. It
// has no connection: online from open to close. A reader thread keeps the
// bound socket and receives; a writer thread sends the queued blocks.
#pragma once

#include "links/ISerial.h"
#include "links/LinkThreads.h"
#include "platform/socket.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class UDP : public ISerial {
public:
    explicit UDP(ISerialClient* client);
    // Closes the link, which ends both threads.
    ~UDP() override;

    // A local port; optionally a destination name (default "localhost");
    // optionally a destination port (default the local port). Ports use the
    // numbers' low 16 bits. Any other shape: false, and nothing changes.
    bool open(std::uint32_t parameterCount, const VARIANT* parameters) override;
    // Stops both threads and goes offline; blocks still queued are dropped.
    bool close() override;
    bool isOpen() override;
    // Queues a copy for the writer thread: one datagram per block.
    bool write(const std::uint8_t* data, std::uint32_t length) override;

    // Starts the link; false, with nothing changed, when it is already open.
    virtual bool openEndpoint(std::uint16_t localRxPortNumber, const char* destinationName,
                              std::uint16_t destinationTxPortNumber);

private:
    using SharedSocket = std::shared_ptr<platform::Socket>;

    void readerLoop();
    // Makes and binds a socket and receives on it until stopped; returns
    // at once when the socket cannot be made or bound.
    void receiveOnNewSocket();
    void writerLoop();
    void useSocket(SharedSocket socket);
    SharedSocket currentSocket();

    std::string destinationName_;
    std::uint16_t localRxPortNumber_ = 0;
    std::uint16_t destinationTxPortNumber_ = 0;
    std::atomic<bool> opened_{false};

    // Made and dropped by the reader; the writer sends on whichever socket
    // it finds here, holding it while it sends.
    std::mutex socketLock_;
    SharedSocket socket_; // guarded by socketLock_; null while there is none
    LinkThreads threads_; // last: its threads use the members above
};
