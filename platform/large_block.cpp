#include "platform/large_block.h"
#include "platform/large_block_system.h"

#include <array>
#include <atomic>
#include <mutex>

namespace platform {

namespace {

std::size_t roundedUp(std::size_t bytes) { return (bytes + largeBlockBytes - 1) / largeBlockBytes * largeBlockBytes; }

std::atomic<std::size_t> bytesInUse{0};

// Blocks of one large page given back lately, kept for the next ones asked
// for: while a transfer runs, the blocks its sent data leaves behind carry
// its echo, instead of fresh memory that the system must clear page by
// page. Only a few are kept, so that little stays mapped after a burst,
// and those are let go when the module unloads.
class SpareBlocks {
public:
    SpareBlocks() = default;
    ~SpareBlocks() {
        const std::lock_guard guard(lock_);
        while (count_) unmapLargeBlock(blocks_[--count_], largeBlockBytes);
        closed_ = true; // a block given back later is unmapped at once
    }
    SpareBlocks(const SpareBlocks&) = delete;
    SpareBlocks& operator=(const SpareBlocks&) = delete;

    void* take() noexcept {
        const std::lock_guard guard(lock_);
        return count_ ? blocks_[--count_] : nullptr;
    }
    bool keep(void* block) noexcept {
        const std::lock_guard guard(lock_);
        if (closed_ || count_ == blocks_.size()) return false;
        blocks_[count_++] = block;
        return true;
    }

private:
    std::mutex lock_;
    std::array<void*, 8> blocks_{};
    std::size_t count_ = 0;
    bool closed_ = false;
};

SpareBlocks& spareBlocks() {
    static SpareBlocks spares; // made on first use, so before any block is given back
    return spares;
}

} // namespace

void* allocateLargeBlock(std::size_t bytes) {
    const std::size_t size = roundedUp(bytes);
    void* block = size == largeBlockBytes ? spareBlocks().take() : nullptr;
    if (!block && !(block = mapLargeBlock(size))) throw std::bad_alloc();
    bytesInUse += size;
    return block;
}

void releaseLargeBlock(void* block, std::size_t bytes) noexcept {
    const std::size_t size = roundedUp(bytes);
    bytesInUse -= size;
    if (size == largeBlockBytes && spareBlocks().keep(block)) return idleLargeBlock(block, size);
    unmapLargeBlock(block, size);
}

std::size_t largeBlockBytesInUse() noexcept { return bytesInUse; }

} // namespace platform
