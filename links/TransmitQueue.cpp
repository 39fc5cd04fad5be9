#include "links/TransmitQueue.h"

#include <new>

bool TransmitQueue::push(const std::uint8_t* data, std::uint32_t length) {
    try {
        Block block(data, data + length);
        const std::lock_guard lock(lock_);
        blocks_.push_back(std::move(block));
    } catch (const std::bad_alloc&) {
        return false;
    }
    changed_.notify_all();
    return true;
}

std::optional<TransmitQueue::Block> TransmitQueue::take(const std::function<bool()>& canSend) {
    std::unique_lock lock(lock_);
    changed_.wait(lock, [&] { return stopped_ || (!blocks_.empty() && canSend()); });
    if (stopped_) return std::nullopt;
    Block block = std::move(blocks_.front());
    blocks_.pop_front();
    return block;
}

void TransmitQueue::wake() {
    // Taking the lock orders the change before a waiter's next test.
    { const std::lock_guard lock(lock_); }
    changed_.notify_all();
}

void TransmitQueue::stop() {
    {
        const std::lock_guard lock(lock_);
        stopped_ = true;
    }
    changed_.notify_all();
}

void TransmitQueue::restart() {
    const std::lock_guard lock(lock_);
    blocks_.clear();
    stopped_ = false;
}
