// What the TCP, UDP and RS-232 links share: a reader and a writer thread, the stop
// signal that ends both, and the queue of blocks the writer sends.
#pragma once

#include "links/TransmitQueue.h"
#include "platform/automation.h"
#include "platform/stop_signal.h"
#include "platform/thread.h"

#include <cstdint>
#include <functional>

class LinkThreads {
public:
    // Starts both threads with a cleared stop signal and an empty queue.
    // False, with neither left running, when the system cannot make a thread.
    bool start(std::function<void()> reader, std::function<void()> writer);
    // Signals the stop, waits up to 10 s for each thread, and drops the
    // blocks never sent. True when the reader has ended.
    bool stop();

    TransmitQueue queue;
    platform::StopSignal stopSignal;

private:
    platform::JoinableThread reader_;
    platform::JoinableThread writer_;
};

// A port number as scripts give it: only the low 16 bits count.
inline std::uint16_t portFromNumber(LONG number) {
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(number) & 0xFFFFu);
}
