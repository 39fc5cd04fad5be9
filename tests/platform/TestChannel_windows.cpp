#include "TestChannel.h"

#include <windows.h>

#include <stdexcept>

// Every handle waits alike (the links' tests use socket events): an event stands in.
TestChannel::TestChannel() {
    ends_[0] = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!ends_[0]) throw std::runtime_error("no event for the test");
}

TestChannel::~TestChannel() { CloseHandle(ends_[0]); }

void TestChannel::sendByte() {
    if (!SetEvent(ends_[0])) throw std::runtime_error("the test's event was not set");
}
