#include "TestChannel.h"

#include <unistd.h>

#include <stdexcept>

struct TestChannel::Ends {
    ~Ends() {
        for (const int end : pipe)
            if (end >= 0) close(end);
    }
    int pipe[2] = {-1, -1};
};

TestChannel::TestChannel() : ends_(std::make_unique<Ends>()) {
    if (::pipe(ends_->pipe) != 0) throw std::runtime_error("no pipe for the test");
}

TestChannel::~TestChannel() = default;

platform::NativeWaitable TestChannel::receiver() const { return ends_->pipe[0]; }

void TestChannel::sendByte() {
    if (write(ends_->pipe[1], "x", 1) != 1) throw std::runtime_error("the test's pipe took no byte");
}
