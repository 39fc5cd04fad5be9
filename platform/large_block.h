// Memory for byte blocks that may grow large, such as a long receive
// backlog. Blocks of at least largeBlockBytes are mapped on their own and,
// where the system offers it, backed by large pages: filling one then
// costs a few page faults instead of one per 4 KiB page, which on a
// virtual machine is most of the cost of queuing a large transfer.
// Smaller blocks come from the heap.
#pragma once

#include <cstddef>
#include <new>

namespace platform {

inline constexpr std::size_t largeBlockBytes = std::size_t{2} << 20;

// At least `bytes` bytes; throws std::bad_alloc when none can be had.
void* allocateLargeBlock(std::size_t bytes);
// Gives back what allocateLargeBlock(bytes) returned.
void releaseLargeBlock(void* block, std::size_t bytes) noexcept;
// The bytes of the large blocks held now, for memory accounts.
std::size_t largeBlockBytesInUse() noexcept;

// A standard allocator that takes large requests from allocateLargeBlock.
template <class T>
struct BlockAllocator {
    using value_type = T;

    BlockAllocator() = default;
    template <class U>
    BlockAllocator(const BlockAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        const std::size_t bytes = count * sizeof(T);
        return static_cast<T*>(bytes >= largeBlockBytes ? allocateLargeBlock(bytes) : ::operator new(bytes));
    }
    void deallocate(T* block, std::size_t count) noexcept {
        const std::size_t bytes = count * sizeof(T);
        if (bytes >= largeBlockBytes)
            releaseLargeBlock(block, bytes);
        else
            ::operator delete(block);
    }
    template <class U>
    bool operator==(const BlockAllocator<U>&) const noexcept { return true; }
};

} // namespace platform
