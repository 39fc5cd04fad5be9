// The blocks that callers of a link's write have queued for its writer
// thread, oldest first. Blocks written one after another share a run: their
// bytes lie together, so that a stream of small writes (a file) costs no
// allocation per block and goes out in one send, while each block is still
// reported on its own, exactly as written. The writer takes a whole run at
// a time. It waits for one, and for whatever else it needs (a connection),
// under the queue's own lock, so a change of either wakes it; stopping
// wakes it for good.
//
// A link may also let the caller of write send a block at once, while
// nothing is queued: the sending role (takeRun, claimIfIdle, release) keeps
// the caller and the writer from ever sending at the same time, so the
// bytes leave in the order they were written.
#pragma once

#include "platform/large_block.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

class TransmitQueue {
public:
    // Blocks written one after another, from the first one not yet sent.
    class Run {
    public:
        // A run of the one block.
        static Run of(const std::uint8_t* data, std::uint32_t length);

        bool empty() const { return first_ == lengths_.size(); }
        std::size_t blockCount() const { return lengths_.size() - first_; }
        std::uint32_t blockLength(std::size_t block) const { return lengths_[first_ + block]; }
        // The bytes of the blocks, one after another.
        const std::uint8_t* data() const { return bytes_.data() + firstByte_; }
        std::size_t size() const { return bytes_.size() - firstByte_; }
        // Drops the first `count` blocks.
        void dropBlocks(std::size_t count);
        // Calls visit(data, length) for each block, in order.
        template <class Visit>
        void forEachBlock(Visit visit) const {
            const std::uint8_t* block = data();
            for (std::size_t i = 0; i < blockCount(); block += blockLength(i++)) visit(block, blockLength(i));
        }

    private:
        friend class TransmitQueue;
        bool fits(std::uint32_t length) const { return bytes_.capacity() - bytes_.size() >= length; }
        void append(const std::uint8_t* data, std::uint32_t length);
        void clear();

        std::vector<std::uint8_t, platform::BlockAllocator<std::uint8_t>> bytes_;
        std::vector<std::uint32_t> lengths_;
        std::size_t first_ = 0;     // the first block not dropped
        std::size_t firstByte_ = 0; // where it starts in bytes_
    };

    // Queues a copy of the bytes; false when memory runs out.
    bool push(const std::uint8_t* data, std::uint32_t length);
    // Waits until a run is queued and `canSend` holds, or until stop(); then
    // moves the oldest run into `run`. False once stopped. `canSend` runs
    // under the queue's lock; whoever changes what it reads calls wake().
    bool take(Run& run, const std::function<bool()>& canSend);

    // As take, and also until no one holds the sending role, which it then
    // takes; `firstSent` is how many bytes of the run's first block were
    // sent already. A block begun is taken whatever `canSend` says, to be
    // finished or dropped.
    bool takeRun(Run& run, std::size_t& firstSent, const std::function<bool()>& canSend);
    // Takes the sending role when nothing is queued and no one holds it.
    bool claimIfIdle();
    // With the sending role: puts what is left of a run back in front of
    // the queue, its first block with `firstSent` bytes sent already. False
    // when memory runs out; nothing was put back then.
    bool putBack(Run&& run, std::size_t firstSent = 0);
    // Gives the sending role up.
    void release();
    // Keeps the storage of a sent run for later pushes to reuse.
    void recycle(Run&& run);

    void wake();
    // Wakes every take() for good; the runs still queued stay until restart().
    void stop();
    // Drops every queued run and takes runs again.
    void restart();

private:
    // Under lock_: an empty run with room for at least `length` bytes.
    Run newRun(std::uint32_t length);

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Run> runs_;      // guarded by lock_
    std::vector<Run> spare_;    // guarded by lock_: sent runs whose storage is kept
    std::size_t headSent_ = 0;  // guarded by lock_: bytes of the oldest block already sent
    bool sending_ = false;      // guarded by lock_: someone holds the sending role
    bool stopped_ = false;      // guarded by lock_
};
