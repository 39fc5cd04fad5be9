// A received chunk read as a run of encrypted blocks, each a 4-byte
// big-endian length L and L bytes of ciphertext, wholly inside the chunk.
// Nothing is kept between chunks: a block cut by the chunk's end is lost
// with the rest of the chunk, and so is a remainder of 4 bytes or fewer.
// Free of the automation types, so fuzzers and small programs use it alone.
#pragma once

#include "links/BigEndian.h"

#include <cstdint>
#include <optional>

class EncryptedBlocks {
public:
    struct Block {
        const std::uint8_t* ciphertext;
        std::uint32_t length;
    };

    EncryptedBlocks(const std::uint8_t* chunk, std::uint32_t length) : chunk_(chunk), length_(length) {}

    // The next whole block, or none when the chunk holds no more.
    std::optional<Block> next() {
        if (length_ - position_ <= 4) return std::nullopt;
        const std::uint32_t blockLength = loadBigEndian32(chunk_ + position_);
        const std::uint32_t start = position_ + 4;
        if (blockLength > length_ - start) {
            position_ = length_;
            return std::nullopt;
        }
        position_ = start + blockLength;
        return Block{chunk_ + start, blockLength};
    }

private:
    const std::uint8_t* chunk_;
    std::uint32_t length_;
    std::uint32_t position_ = 0;
};
