#include "platform/large_block.h"

#include <atomic>

#include <windows.h>

namespace platform {

namespace {

std::atomic<std::size_t> bytesInUse{0};

} // namespace

// Large pages need a privilege that a plug-in's users rarely hold: the
// block is plain committed memory of its own.
void* allocateLargeBlock(std::size_t bytes) {
    void* const block = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!block) throw std::bad_alloc();
    bytesInUse += bytes;
    return block;
}

void releaseLargeBlock(void* block, std::size_t bytes) noexcept {
    VirtualFree(block, 0, MEM_RELEASE);
    bytesInUse -= bytes;
}

std::size_t largeBlockBytesInUse() noexcept { return bytesInUse; }

} // namespace platform
