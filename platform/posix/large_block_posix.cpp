#include "platform/large_block.h"

#include <atomic>
#include <cstdint>

#include <sys/mman.h>

namespace platform {

namespace {

// Large pages need a mapping aligned to their size.
std::size_t roundedUp(std::size_t bytes) { return (bytes + largeBlockBytes - 1) / largeBlockBytes * largeBlockBytes; }

std::atomic<std::size_t> bytesInUse{0};

} // namespace

void* allocateLargeBlock(std::size_t bytes) {
    const std::size_t size = roundedUp(bytes);
    // Mapped one large page too long, then trimmed to an aligned start.
    void* const mapped = mmap(nullptr, size + largeBlockBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + largeBlockBytes - 1) / largeBlockBytes * largeBlockBytes;
    if (aligned > start) munmap(mapped, aligned - start);
    if (const std::size_t tail = start + largeBlockBytes - aligned; tail > 0)
        munmap(reinterpret_cast<void*>(aligned + size), tail);
    void* const block = reinterpret_cast<void*>(aligned);
    // Only advice: without large pages the block works all the same.
    madvise(block, size, MADV_HUGEPAGE);
    bytesInUse += size;
    return block;
}

void releaseLargeBlock(void* block, std::size_t bytes) noexcept {
    munmap(block, roundedUp(bytes));
    bytesInUse -= roundedUp(bytes);
}

std::size_t largeBlockBytesInUse() noexcept { return bytesInUse; }

} // namespace platform
