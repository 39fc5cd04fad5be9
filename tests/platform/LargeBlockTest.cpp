// Large blocks: a block of one large page given back is handed out again,
// whole and writable, while the account counts only blocks in use.
#include "platform/large_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

TEST(LargeBlock, GivenBackBlocksServeAgainAndOnlyBlocksInUseCount) {
    using platform::largeBlockBytes;
    const std::size_t before = platform::largeBlockBytesInUse();
    std::vector<void*> blocks;
    for (int i = 0; i < 12; ++i) blocks.push_back(platform::allocateLargeBlock(largeBlockBytes)); // more than are kept
    EXPECT_EQ(platform::largeBlockBytesInUse(), before + 12 * largeBlockBytes);
    for (void* block : blocks) platform::releaseLargeBlock(block, largeBlockBytes);
    EXPECT_EQ(platform::largeBlockBytesInUse(), before);

    void* const again = platform::allocateLargeBlock(largeBlockBytes);
    EXPECT_NE(std::find(blocks.begin(), blocks.end(), again), blocks.end());
    std::memset(again, 0x5A, largeBlockBytes);
    void* const larger = platform::allocateLargeBlock(largeBlockBytes + 1); // more than one page: mapped anew
    std::memset(larger, 0xA5, largeBlockBytes + 1);
    EXPECT_EQ(platform::largeBlockBytesInUse(), before + 3 * largeBlockBytes);
    platform::releaseLargeBlock(larger, largeBlockBytes + 1);
    platform::releaseLargeBlock(again, largeBlockBytes);
}
