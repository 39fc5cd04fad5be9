#include "platform/large_block.h"
#include "platform/large_block_system.h"

#include <cstdint>

#include <sys/mman.h>

namespace platform {

void* mapLargeBlock(std::size_t size) noexcept {
    // Large pages need an aligned mapping: mapped one large page too long,
    // then trimmed to an aligned start.
    void* const mapped = mmap(nullptr, size + largeBlockBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + largeBlockBytes - 1) / largeBlockBytes * largeBlockBytes;
    if (aligned > start) munmap(mapped, aligned - start);
    if (const std::size_t tail = start + largeBlockBytes - aligned; tail > 0)
        munmap(reinterpret_cast<void*>(aligned + size), tail);
    void* const block = reinterpret_cast<void*>(aligned);
    // Only advice: without large pages the block works all the same.
    madvise(block, size, MADV_HUGEPAGE);
    return block;
}

void unmapLargeBlock(void* block, std::size_t size) noexcept { munmap(block, size); }

void idleLargeBlock(void* block, std::size_t size) noexcept {
    // Taken back only if memory runs short; otherwise reused as it is.
    madvise(block, size, MADV_FREE);
}

} // namespace platform
