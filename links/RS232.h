// The RS-232 link: a serial port driven by a reader thread, which waits for
// line events, reports them and reads only after a character came, and a
// writer thread, which drains the transmit queue. Both loops run above the
// port seam, so that one system's port, or a test's scripted port, serves.
#pragma once

#include "links/ISerial.h"
#include "links/LinkThreads.h"
#include "platform/serial_port.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class RS232 : public ISerial {
public:
    explicit RS232(ISerialClient* client);
    // The link over `port`, which it owns; tests pass a scripted one.
    RS232(ISerialClient* client, std::unique_ptr<platform::SerialPort> port);
    // Closes the link, which ends both threads.
    ~RS232() override;

    // Port number (VT_I4), baud rate (VT_I4), optional flow control text
    // (VT_BSTR: "None", "CTS", "DSR", "Software" or "CTS+DTR" in any case,
    // anything else is "None"). The name takes the new settings even when
    // the port is already open; then the result is false.
    bool open(std::uint32_t parameterCount, const VARIANT* parameters) override;
    // Ends both threads (the reader reports the link offline as it ends),
    // then closes the port; blocks still queued are never sent. True, also
    // on a closed link.
    bool close() override;
    bool isOpen() override;
    // Queues a copy for the writer thread; false when the port is not open.
    bool write(const std::uint8_t* data, std::uint32_t length) override;

private:
    bool openPort();
    void readerLoop();
    void writerLoop();
    // One report per line event, in the fixed order with RXCHAR last.
    void reportEvents(std::uint32_t events);

    std::uint32_t portNumber_ = 0;
    std::uint32_t baudRate_ = 0;
    std::string flowControl_ = "None"; // as the script spelled it
    std::unique_ptr<platform::SerialPort> port_;
    std::atomic<bool> open_{false};
    LinkThreads threads_; // last: its threads use the members above
};
