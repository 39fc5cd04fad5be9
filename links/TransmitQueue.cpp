#include "links/TransmitQueue.h"

#include <iterator>
#include <new>
#include <utility>

namespace {

// Sent blocks kept for reuse: enough for the runs in flight of a stream of
// small blocks; larger blocks are let go.
constexpr std::size_t maxSpareBlocks = 128;
constexpr std::size_t maxSpareBlockBytes = 4096;

} // namespace

bool TransmitQueue::push(const std::uint8_t* data, std::uint32_t length) {
    try {
        const std::lock_guard lock(lock_);
        Block block;
        if (!spare_.empty()) {
            block = std::move(spare_.back());
            spare_.pop_back();
        }
        block.assign(data, data + length);
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

bool TransmitQueue::takeRun(std::vector<Block>& run, std::size_t& firstSent, const std::function<bool()>& canSend,
                            std::size_t maxBytes) {
    run.clear();
    std::unique_lock lock(lock_);
    changed_.wait(lock, [&] { return stopped_ || (!blocks_.empty() && !sending_ && (headSent_ > 0 || canSend())); });
    if (stopped_) return false;
    sending_ = true;
    firstSent = std::exchange(headSent_, 0);
    std::size_t bytes = 0;
    do {
        bytes += blocks_.front().size();
        run.push_back(std::move(blocks_.front()));
        blocks_.pop_front();
    } while (!blocks_.empty() && bytes + blocks_.front().size() <= maxBytes);
    return true;
}

bool TransmitQueue::claimIfIdle() {
    const std::lock_guard lock(lock_);
    if (stopped_ || sending_ || !blocks_.empty()) return false;
    sending_ = true;
    return true;
}

bool TransmitQueue::putBack(std::vector<Block>::iterator first, std::vector<Block>::iterator last,
                            std::size_t firstSent) {
    const std::lock_guard lock(lock_);
    try {
        blocks_.insert(blocks_.begin(), std::make_move_iterator(first), std::make_move_iterator(last));
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (first != last) headSent_ = firstSent;
    return true;
}

void TransmitQueue::release() {
    {
        const std::lock_guard lock(lock_);
        sending_ = false;
    }
    changed_.notify_all();
}

void TransmitQueue::recycle(std::vector<Block>& sent) {
    {
        const std::lock_guard lock(lock_);
        try {
            for (Block& block : sent) {
                if (spare_.size() == maxSpareBlocks) break;
                const std::size_t capacity = block.capacity();
                if (capacity == 0 || capacity > maxSpareBlockBytes) continue;
                block.clear();
                spare_.push_back(std::move(block));
            }
        } catch (const std::bad_alloc&) {
            // Nothing is lost: what is not kept is let go.
        }
    }
    sent.clear();
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
    spare_.clear();
    headSent_ = 0;
    sending_ = false;
    stopped_ = false;
}
