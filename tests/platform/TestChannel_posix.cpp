#include "TestChannel.h"

#include <unistd.h>

#include <stdexcept>

TestChannel::TestChannel() {
    if (::pipe(ends_) != 0) throw std::runtime_error("no pipe for the test");
}

TestChannel::~TestChannel() {
    for (const int end : ends_) close(end);
}

void TestChannel::sendByte() {
    if (write(ends_[1], "x", 1) != 1) throw std::runtime_error("the test's pipe took no byte");
}
