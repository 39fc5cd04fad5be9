// What each backend gives large_block.cpp, for the large-block sources in
// platform/ only: whole mappings of a size rounded to largeBlockBytes.
#pragma once

#include <cstddef>

namespace platform {

// A new mapping of `size` bytes, aligned to largeBlockBytes where large
// pages need it; null when there is no memory.
void* mapLargeBlock(std::size_t size) noexcept;
void unmapLargeBlock(void* block, std::size_t size) noexcept;
// Tells the system that the block's contents are no longer needed while it
// waits to be used again: it may take the pages back under memory pressure.
void idleLargeBlock(void* block, std::size_t size) noexcept;

} // namespace platform
