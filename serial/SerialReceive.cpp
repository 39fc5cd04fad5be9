// The serial tester's side of the link: the callbacks that arrive on link
// threads, and the byte reader that the actions use to consume what they
// queued.
#include "serial/ByteText.h"
#include "serial/Serial.h"

#include <algorithm>
#include <thread>

namespace {

// Waiting actions look at the deadline, the abort flag and the link at
// least this often.
constexpr auto receivePollInterval = std::chrono::milliseconds(100);

// An answer from a nearby peer often comes within a fraction of a
// millisecond: a waiting action looks for it this long, yielding the
// processor meanwhile, before it sleeps, because waking a sleeping thread
// costs about as much again as such a round trip.
constexpr auto receiveWatch = std::chrono::microseconds(200);

// Received chunks are copied into blocks, a short chunk into the spare room
// of the newest queued block when it fits, so that a link delivering a byte
// at a time does not cost an allocation (and its overhead) per byte. A new
// block is small while the reader keeps up; once chunks back up behind
// each other (a file's echo queued during sendFile) blocks are larger, and
// once the backlog is long they are large blocks the system can back with
// large pages, so that it does not grow a 4 KiB page fault at a time.
constexpr std::size_t smallBlockBytes = 4096;
constexpr std::size_t backlogBlockBytes = 65536;
constexpr std::size_t longBacklogBlocks = 32;

std::size_t newBlockBytes(bool backlog, std::size_t queuedBlocks) {
    if (!backlog) return smallBlockBytes;
    return queuedBlocks < longBacklogBlocks ? backlogBlockBytes : platform::largeBlockBytes;
}

} // namespace

// The callbacks run on link threads: nothing they throw may end such a
// thread, so each reports its failure in a log line (if even that works)
// and returns.
void Serial::reportCallbackFailure(const char* callback) noexcept {
    try {
        log(LogLevel::Error, "Serial: %s failed", callback);
    } catch (...) {
    }
}

void Serial::onDataReceived(ISerial*, const std::uint8_t* data, std::uint32_t length) {
    try {
        // The copy goes to the file attached now; detaching it meanwhile
        // does not close it under this copy.
        if (const std::shared_ptr<ReceivedDataLog> logFile = currentLogFile()) logFile->copy(data, length);
        if (!sinkData_) {
            queueReceived(data, length);
            queuedChunks_.fetch_add(1, std::memory_order_release);
            receiveSignal_.notify_one();
        }
        if (logData_) traceBytes("Rx:", data, length);
    } catch (...) {
        reportCallbackFailure("receiving");
    }
}

void Serial::queueReceived(const std::uint8_t* data, std::uint32_t length) {
    // The link's bytes live only during its call, so they are copied; a
    // block of its own is made outside the lock.
    bool backlog = false;
    std::size_t queuedBlocks = 0;
    if (length < backlogBlockBytes) {
        std::lock_guard guard(queueLock_);
        queuedBlocks = receiveQueue_.size();
        if (!receiveQueue_.empty()) {
            ReceivedBlock& newest = receiveQueue_.back();
            if (newest.capacity() - newest.size() >= length) {
                newest.insert(newest.end(), data, data + length);
                return;
            }
            backlog = true;
        }
    }
    ReceivedBlock block;
    block.reserve(std::max<std::size_t>(length, newBlockBytes(backlog, queuedBlocks)));
    block.assign(data, data + length);
    std::lock_guard guard(queueLock_);
    receiveQueue_.push_back(std::move(block));
}

void Serial::onDataTransmitted(ISerial*, const std::uint8_t* data, std::uint32_t length) {
    {
        // Under the lock, so that a "send" between its check and its wait cannot miss the report.
        const std::lock_guard guard(transmitLock_);
        transmittedCount_ += length;
    }
    transmitSignal_.notify_all();
    try {
        if (logData_) traceBytes("Tx:", data, length);
    } catch (...) {
        reportCallbackFailure("transmitting");
    }
}

void Serial::onStatusChanged(ISerial* link) {
    try {
        log(LogLevel::Trace, "Status Changed %s", link->getStatus().c_str());
    } catch (...) {
        reportCallbackFailure("status");
    }
}

void Serial::traceBytes(const char* prefix, const std::uint8_t* data, std::uint32_t length) {
    if (length > maxTraceBytes) {
        log(LogLevel::Trace, "%slength %d too long to log truncated to %d", prefix, static_cast<int>(length),
            static_cast<int>(maxTraceBytes));
        length = maxTraceBytes;
    }
    // The line is its own format: '%' bytes were doubled for this.
    const std::string format = traceLineFormat(prefix, data, length);
    log(LogLevel::Trace, format.c_str());
}

bool Serial::takeChunk(ReceivedBlock& chunk, std::chrono::milliseconds wait) {
    std::unique_lock guard(queueLock_);
    if (receiveQueue_.empty()) {
        const std::uint32_t chunksSeen = queuedChunks_.load(std::memory_order_relaxed);
        guard.unlock();
        watchForChunk(chunksSeen);
        guard.lock();
    }
    if (!receiveSignal_.wait_for(guard, wait, [this] { return !receiveQueue_.empty(); })) return false;
    chunk = std::move(receiveQueue_.front()); // handed over, not copied
    receiveQueue_.pop_front();
    return true;
}

void Serial::watchForChunk(std::uint32_t chunksSeen) const {
    const auto start = std::chrono::steady_clock::now();
    while (queuedChunks_.load(std::memory_order_acquire) == chunksSeen &&
           std::chrono::steady_clock::now() - start < receiveWatch)
        std::this_thread::yield();
}

bool Serial::fetchChunk() {
    if (readPosition_ < currentChunk_.size()) return true;
    if (takeChunk(currentChunk_, receivePollInterval)) readPosition_ = 0;
    return readPosition_ < currentChunk_.size();
}

bool Serial::awaitUnread() {
    if (timedOut()) return false;
    for (;;) {
        if (aborted() || !linkOpen()) return false;
        if (fetchChunk()) return true;
        if (timedOut()) return false;
    }
}

std::span<const std::uint8_t> Serial::awaitBytes() {
    if (!awaitUnread()) return {};
    return unreadBytes();
}

std::uint8_t Serial::peekByte() {
    const std::span<const std::uint8_t> bytes = awaitBytes();
    return bytes.empty() ? 0 : bytes.front();
}
