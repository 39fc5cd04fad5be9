// A real descriptor or handle that a test makes readable by sending a byte:
// a pipe here, on Windows an event.
#pragma once

#include "platform/native_waitable.h"

#include <memory>

class TestChannel {
public:
    // Throws std::runtime_error when the system cannot make one.
    TestChannel();
    ~TestChannel();
    TestChannel(const TestChannel&) = delete;
    TestChannel& operator=(const TestChannel&) = delete;

    // Ready to read once a byte has arrived.
    platform::NativeWaitable receiver() const;
    // Sends one byte and returns when the receiving end has it.
    void sendByte();

private:
    struct Ends;
    std::unique_ptr<Ends> ends_;
};
