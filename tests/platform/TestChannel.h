// A pipe, on Windows an event, that a test makes ready by sending a byte.
#pragma once

#include "platform/native_waitable.h"

class TestChannel {
public:
    TestChannel(); // throws std::runtime_error when the system cannot make one
    ~TestChannel();
    TestChannel(const TestChannel&) = delete;
    TestChannel& operator=(const TestChannel&) = delete;

    platform::NativeWaitable receiver() const { return ends_[0]; }
    void sendByte(); // returns when the receiving end has it

private:
    platform::NativeWaitable ends_[2] = {platform::invalidWaitable, platform::invalidWaitable};
};
