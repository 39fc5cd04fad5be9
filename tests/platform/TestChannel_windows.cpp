#include "TestChannel.h"

#include <windows.h>

#include <stdexcept>

// The wait treats every handle alike (the links' tests wait on real socket
// events), so a manual-reset event stands for the receiving end.
struct TestChannel::Ends {
    ~Ends() {
        if (event) CloseHandle(event);
    }
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

TestChannel::TestChannel() : ends_(std::make_unique<Ends>()) {
    if (!ends_->event) throw std::runtime_error("no event for the test");
}

TestChannel::~TestChannel() = default;

platform::NativeWaitable TestChannel::receiver() const { return ends_->event; }

void TestChannel::sendByte() {
    if (!SetEvent(ends_->event)) throw std::runtime_error("the test's event was not set");
}
