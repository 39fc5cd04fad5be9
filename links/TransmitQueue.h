// The blocks that callers of a socket link's write have queued for its
// writer thread, oldest first. The writer waits for a block and for
// whatever else it needs (a connection) under the queue's own lock, so a
// change of either wakes it; stopping wakes it for good.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

class TransmitQueue {
public:
    using Block = std::vector<std::uint8_t>;

    // Queues a copy of the bytes; false when memory runs out.
    bool push(const std::uint8_t* data, std::uint32_t length);
    // Waits until a block is queued and `canSend` holds, or until stop();
    // the oldest block, or nothing once stopped. `canSend` runs under the
    // queue's lock; whoever changes what it reads calls wake().
    std::optional<Block> take(const std::function<bool()>& canSend);
    void wake();
    // Wakes every take() for good; the blocks still queued stay until restart().
    void stop();
    // Drops every queued block and takes blocks again.
    void restart();

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Block> blocks_; // guarded by lock_
    bool stopped_ = false;     // guarded by lock_
};
