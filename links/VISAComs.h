// The VISA link: talks to a measuring instrument through the system's VISA
// library. Sending writes a command; a command holding "?" is a query, and
// the reader thread then reads the answer and delivers it with a line feed
// appended. Nothing is read unless a query was sent.
#pragma once

#include "links/ISerial.h"
#include "links/VISAComsLibrary.h"
#include "platform/thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

class VISAComs : public ISerial {
public:
    // The longest close waits for the reader thread.
    static constexpr std::chrono::milliseconds threadEndLimit{10000};
    // Reads made for one query before its answer is given up.
    static constexpr int readAttempts = 10;
    // The most one read takes from the instrument.
    static constexpr std::uint32_t readSize = 2048;

    explicit VISAComs(ISerialClient* client);
    // Closes the link when it is open, so no VISA session outlives it.
    ~VISAComs() override;

    // Exactly one parameter, the VISA resource string (VT_BSTR). False when
    // already open, when the parameters do not fit, when no VISA library can
    // be loaded, or when the library cannot open the resource. On success
    // the link is online and named "visa " and the resource string.
    bool open(std::uint32_t parameterCount, const VARIANT* parameters) override;
    // Ends the reader thread, then closes the instrument and resource
    // manager sessions. False when not open or when a session will not
    // close (the link then stays open and online).
    bool close() override;
    bool isOpen() override;
    // Writes the bytes to the instrument and reports what was written.
    // False when not open or when the instrument took fewer bytes.
    bool write(const std::uint8_t* data, std::uint32_t length) override;

private:
    // Waits for a query or the stop; true for a query.
    bool waitForQuery();
    bool stopRequested();
    // Tells the reader to end and waits up to threadEndLimit for it.
    void stopReader();
    void readAnswers();
    void readAnswer();

    std::mutex wakeLock_;
    std::condition_variable wake_;
    bool queryPending_ = false; // guarded by wakeLock_; a flag, not a count
    bool stopping_ = false;     // guarded by wakeLock_

    std::mutex sessionLock_; // one read or write on the instrument session at a time
    const visa::Functions* visa_ = nullptr;
    visa::Session resourceManager_ = 0;
    visa::Session instrument_ = 0;
    std::atomic<bool> opened_{false};
    platform::JoinableThread reader_;
};
