// The encrypted-block splitter over one received chunk: every block it
// gives lies wholly inside the chunk, and blocks follow each other.
#include "FuzzInput.h"
#include "links/EncryptedBlocks.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly `size` bytes, so that AddressSanitizer sees any read past it.
    const std::vector<std::uint8_t> chunk(data, data + size);
    EncryptedBlocks blocks(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
    std::size_t expectedStart = 4;
    std::uint32_t sum = 0;
    while (const auto block = blocks.next()) {
        if (block->ciphertext != chunk.data() + expectedStart) __builtin_trap();
        for (std::uint32_t i = 0; i < block->length; ++i) sum += block->ciphertext[i];
        expectedStart += block->length + 4;
    }
    return sum == 0xdeadbeef ? 1 : 0;
}
