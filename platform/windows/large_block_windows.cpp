#include "platform/large_block.h"

#include <windows.h>

namespace platform {

// Large pages need a privilege that a plug-in's users rarely hold: the
// block is plain committed memory of its own.
void* allocateLargeBlock(std::size_t bytes) {
    void* const block = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!block) throw std::bad_alloc();
    return block;
}

void releaseLargeBlock(void* block, std::size_t) noexcept { VirtualFree(block, 0, MEM_RELEASE); }

} // namespace platform
