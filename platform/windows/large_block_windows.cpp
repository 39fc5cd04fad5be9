#include "platform/large_block_system.h"

#include <windows.h>

namespace platform {

// Large pages need a privilege that a plug-in's users rarely hold: the
// block is plain committed memory of its own.
void* mapLargeBlock(std::size_t size) noexcept {
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void unmapLargeBlock(void* block, std::size_t) noexcept { VirtualFree(block, 0, MEM_RELEASE); }

void idleLargeBlock(void* block, std::size_t size) noexcept {
    // Taken back only if memory runs short; otherwise reused as it is.
    VirtualAlloc(block, size, MEM_RESET, PAGE_READWRITE);
}

} // namespace platform
