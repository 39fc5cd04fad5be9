// The process link: opening it starts a hidden child command interpreter
// whose standard input, output and error are pipes. Bytes sent become the
// child's input; whatever it writes comes back as received data, so that a
// script drives console commands with send, waitfor and scanf.
#pragma once

#include "links/ISerial.h"
#include "platform/child_process.h"
#include "platform/stop_signal.h"
#include "platform/thread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

class ProcessPipe : public ISerial {
public:
    // The longest close waits for each of its threads.
    static constexpr std::chrono::milliseconds threadEndLimit{10000};

    explicit ProcessPipe(ISerialClient* client);
    // Closes the link, ending the child and both threads.
    ~ProcessPipe() override;

    // Parameters are ignored. False when already open or when the child
    // cannot be started; on success the name is "Process" and the link online.
    bool open(std::uint32_t parameterCount, const VARIANT* parameters) override;
    // Queues "exit\n" for the child, ends both threads (the writer first, so
    // that "exit\n" is reported transmitted before the link goes offline),
    // then lets the child go. False when the link is not open.
    bool close() override;
    bool isOpen() override;
    // Queues a copy of the bytes for the writer thread; false when not open.
    bool write(const std::uint8_t* data, std::uint32_t length) override;

private:
    using Block = std::vector<std::uint8_t>;

    void readChildOutput();
    void writeQueuedBlocks();
    // The next block to write, or none once the queue is empty and the
    // writer is told to stop. Queued blocks are written before the stop is seen.
    bool nextBlock(Block& block);
    // Ends both threads, each within its limit; the child is ended as the
    // last resort for a thread blocked on its pipe. False when one still runs.
    bool stopThreads();
    // Waits up to threadEndLimit for the stopped reader, waking its read.
    bool joinReader();
    // Ends both threads, then lets the child go (see ChildProcess's destructor).
    void endThreadsAndChild();

    std::mutex queueLock_;
    std::condition_variable queueChanged_;
    std::deque<Block> transmitQueue_; // guarded by queueLock_
    bool open_ = false;               // guarded by queueLock_
    bool writerStopping_ = false;     // guarded by queueLock_

    platform::StopSignal readerStop_;
    std::unique_ptr<platform::ChildProcess> child_; // changed only by open and close
    platform::JoinableThread reader_;
    platform::JoinableThread writer_;
};
