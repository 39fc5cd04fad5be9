#include "links/TransmitQueue.h"

#include <algorithm>
#include <new>
#include <utility>

namespace {

// A new run's room: small while the writer keeps up; larger once runs
// queue up behind each other; large blocks (which the system may back
// with large pages) once the queue is long, so that a file written far
// ahead of the network does not grow the heap a page at a time.
constexpr std::size_t smallRunBytes = 4096;
constexpr std::size_t backlogRunBytes = 65536;
constexpr std::size_t longQueueRuns = 8;
// Sent runs kept for their storage.
constexpr std::size_t maxSpareRuns = 2;

} // namespace

TransmitQueue::Run TransmitQueue::Run::of(const std::uint8_t* data, std::uint32_t length) {
    Run run;
    run.bytes_.reserve(length);
    run.append(data, length);
    return run;
}

void TransmitQueue::Run::dropBlocks(std::size_t count) {
    for (; count > 0; --count) firstByte_ += lengths_[first_++];
}

void TransmitQueue::Run::append(const std::uint8_t* data, std::uint32_t length) {
    lengths_.push_back(length);
    // Within the room reserved: no allocation, so nothing can throw.
    bytes_.insert(bytes_.end(), data, data + length);
}

void TransmitQueue::Run::clear() {
    bytes_.clear();
    lengths_.clear();
    first_ = firstByte_ = 0;
}

TransmitQueue::Run TransmitQueue::newRun(std::uint32_t length) {
    if (!spare_.empty() && spare_.back().bytes_.capacity() >= length) {
        Run run = std::move(spare_.back());
        spare_.pop_back();
        return run;
    }
    const std::size_t room =
        runs_.empty() ? smallRunBytes : runs_.size() < longQueueRuns ? backlogRunBytes : platform::largeBlockBytes;
    Run run;
    run.bytes_.reserve(std::max<std::size_t>(length, room));
    return run;
}

bool TransmitQueue::push(const std::uint8_t* data, std::uint32_t length) {
    try {
        const std::lock_guard lock(lock_);
        if (runs_.empty() || !runs_.back().fits(length)) runs_.push_back(newRun(length));
        runs_.back().append(data, length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    changed_.notify_all();
    return true;
}

bool TransmitQueue::take(Run& run, const std::function<bool()>& canSend) {
    std::unique_lock lock(lock_);
    changed_.wait(lock, [&] { return stopped_ || (!runs_.empty() && canSend()); });
    if (stopped_) return false;
    run = std::move(runs_.front());
    runs_.pop_front();
    return true;
}

bool TransmitQueue::takeRun(Run& run, std::size_t& firstSent, const std::function<bool()>& canSend) {
    std::unique_lock lock(lock_);
    changed_.wait(lock, [&] { return stopped_ || (!runs_.empty() && !sending_ && (headSent_ > 0 || canSend())); });
    if (stopped_) return false;
    sending_ = true;
    firstSent = std::exchange(headSent_, 0);
    run = std::move(runs_.front());
    runs_.pop_front();
    return true;
}

bool TransmitQueue::claimIfIdle() {
    const std::lock_guard lock(lock_);
    if (stopped_ || sending_ || !runs_.empty()) return false;
    sending_ = true;
    return true;
}

bool TransmitQueue::putBack(Run&& run, std::size_t firstSent) {
    if (run.empty()) return true;
    const std::lock_guard lock(lock_);
    try {
        runs_.push_front(std::move(run));
    } catch (const std::bad_alloc&) {
        return false;
    }
    headSent_ = firstSent;
    return true;
}

void TransmitQueue::release() {
    {
        const std::lock_guard lock(lock_);
        sending_ = false;
    }
    changed_.notify_all();
}

void TransmitQueue::recycle(Run&& run) {
    Run sent = std::move(run);
    sent.clear();
    if (sent.bytes_.capacity() == 0 || sent.bytes_.capacity() > platform::largeBlockBytes) return;
    const std::lock_guard lock(lock_);
    if (spare_.size() == maxSpareRuns) return;
    try {
        spare_.push_back(std::move(sent));
    } catch (const std::bad_alloc&) {
        // Not kept: its storage is let go.
    }
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
    runs_.clear();
    spare_.clear();
    headSent_ = 0;
    sending_ = false;
    stopped_ = false;
}
