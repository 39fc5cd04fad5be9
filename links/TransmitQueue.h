// The blocks that callers of a socket link's write have queued for its
// writer thread, oldest first. The writer waits for a block and for
// whatever else it needs (a connection) under the queue's own lock, so a
// change of either wakes it; stopping wakes it for good.
//
// A link may also let the caller of write send a block at once, while
// nothing is queued: the sending role (takeRun, claimIfIdle, release) keeps
// the caller and the writer from ever sending at the same time, so the
// bytes leave in the order they were written.
#pragma once

#include <condition_variable>
#include <cstddef>
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

    // As take, and also until no one holds the sending role, which it then
    // takes: the oldest block and those after it while they add up to no
    // more than `maxBytes` (the oldest block always), to be sent in one go;
    // `firstSent` is how many bytes of the oldest one were sent already.
    // A block begun is taken whatever `canSend` says, to be finished or
    // dropped. False, with `run` empty, once stopped.
    bool takeRun(std::vector<Block>& run, std::size_t& firstSent, const std::function<bool()>& canSend,
                 std::size_t maxBytes);
    // Takes the sending role when nothing is queued and no one holds it.
    bool claimIfIdle();
    // With the sending role: puts blocks back in front of the queue, in
    // their order, the first with `firstSent` bytes sent already. False when
    // memory runs out; nothing was put back then.
    bool putBack(std::vector<Block>::iterator first, std::vector<Block>::iterator last, std::size_t firstSent = 0);
    // Gives the sending role up.
    void release();
    // Keeps the storage of blocks that have been sent, for later pushes to
    // reuse, so that a stream of small blocks does not allocate each one;
    // empties `sent`.
    void recycle(std::vector<Block>& sent);

    void wake();
    // Wakes every take() for good; the blocks still queued stay until restart().
    void stop();
    // Drops every queued block and takes blocks again.
    void restart();

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Block> blocks_;  // guarded by lock_
    std::vector<Block> spare_;  // guarded by lock_: empty blocks with storage, for push
    std::size_t headSent_ = 0;  // guarded by lock_: bytes of the oldest block already sent
    bool sending_ = false;      // guarded by lock_: someone holds the sending role
    bool stopped_ = false;      // guarded by lock_
};
