#include "links/ProcessPipe.h"

#include <array>
#include <string_view>
#include <system_error>

ProcessPipe::ProcessPipe(ISerialClient* client) : ISerial(client) {}

ProcessPipe::~ProcessPipe() { close(); }

bool ProcessPipe::open(std::uint32_t, const VARIANT*) {
    if (isOpen()) return false;
    auto child = std::make_unique<platform::ChildProcess>();
    std::error_code error;
    if (!child->start(error)) return false;
    child_ = std::move(child);
    {
        const std::lock_guard lock(queueLock_);
        transmitQueue_.clear();
        writerStopping_ = false;
        open_ = true;
    }
    readerStop_.reset();
    try {
        reader_.start([this] { readChildOutput(); });
        writer_.start([this] { writeQueuedBlocks(); });
    } catch (const std::system_error&) {
        // No thread to be had: end the one that started, and the child.
        endThreadsAndChild();
        return false;
    }
    setStatus("Process");
    setOnline(true);
    return true;
}

bool ProcessPipe::close() {
    if (!isOpen()) return false;
    // Queued like any block and never encrypted: it ends the interpreter.
    constexpr std::string_view exitCommand = "exit\n";
    write(reinterpret_cast<const std::uint8_t*>(exitCommand.data()), static_cast<std::uint32_t>(exitCommand.size()));
    endThreadsAndChild();
    return true;
}

bool ProcessPipe::isOpen() {
    const std::lock_guard lock(queueLock_);
    return open_;
}

bool ProcessPipe::write(const std::uint8_t* data, std::uint32_t length) {
    {
        const std::lock_guard lock(queueLock_);
        if (!open_) return false;
        transmitQueue_.emplace_back(data, data + length);
    }
    queueChanged_.notify_one();
    return true;
}

void ProcessPipe::endThreadsAndChild() {
    // A thread still blocked on the child's pipe would use a freed child:
    // the child object is then left behind instead, and the thread is
    // joined when the link goes.
    if (!stopThreads()) static_cast<void>(child_.release());
    child_.reset();
}

bool ProcessPipe::stopThreads() {
    {
        const std::lock_guard lock(queueLock_);
        writerStopping_ = true;
        open_ = false;
    }
    queueChanged_.notify_one();
    const bool writerEnded = writer_.joinFor(threadEndLimit);
    readerStop_.signal();
    const bool readerEnded = joinReader();
    if (writerEnded && readerEnded) return true;
    // A thread still blocked on a pipe: ending the child breaks both pipes.
    child_->terminate();
    const bool writerEndedLate = writer_.joinFor(threadEndLimit);
    return reader_.joinFor(threadEndLimit) && writerEndedLate;
}

bool ProcessPipe::joinReader() {
    // A cancel that comes just before the reader blocks is lost: repeat it.
    constexpr std::chrono::milliseconds cancelAgainAfter{50};
    const auto deadline = std::chrono::steady_clock::now() + threadEndLimit;
    do {
        child_->cancelRead();
        if (reader_.joinFor(cancelAgainAfter)) return true;
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

void ProcessPipe::readChildOutput() {
    std::array<std::uint8_t, 2048> buffer;
    std::size_t received = 0;
    platform::ReadOutcome outcome;
    while ((outcome = child_->read(buffer.data(), buffer.size(), received, readerStop_)) ==
           platform::ReadOutcome::Data)
        deliverReceived(buffer.data(), static_cast<std::uint32_t>(received));
    // A child that has exited stays this link's child until the link closes.
    if (outcome == platform::ReadOutcome::Ended) readerStop_.waitFor(platform::waitWithoutLimit);
    setOnline(false);
}

bool ProcessPipe::nextBlock(Block& block) {
    std::unique_lock lock(queueLock_);
    queueChanged_.wait(lock, [this] { return !transmitQueue_.empty() || writerStopping_; });
    if (transmitQueue_.empty()) return false;
    block = std::move(transmitQueue_.front());
    transmitQueue_.pop_front();
    return true;
}

void ProcessPipe::writeQueuedBlocks() {
    Block block;
    while (nextBlock(block)) {
        // A failed write (the child has gone) is neither reported nor retried.
        if (!block.empty() && child_->write(block.data(), block.size()))
            reportTransmitted(block.data(), static_cast<std::uint32_t>(block.size()));
    }
}
