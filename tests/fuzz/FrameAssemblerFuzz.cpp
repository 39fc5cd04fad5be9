// Packet reassembly over a byte stream cut into chunks. The first byte of
// each piece of input gives the length of the chunk that follows it (255
// also forgets a half-received frame); the handler sometimes feeds a reply
// back in, as a link's client may.
#include "FuzzInput.h"
#include "links/FrameAssembler.h"

#include <algorithm>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FrameAssembler assembler;
    std::uint32_t sum = 0;
    std::uint32_t nesting = 0;
    FrameAssembler::FrameHandler onFrame = [&](const std::uint8_t* payload, std::uint32_t length) {
        if (length > FrameAssembler::maxPayload) __builtin_trap();
        for (std::uint32_t i = 0; i < length; ++i) sum += payload[i];
        // A frame that starts with 'R' is answered with a whole frame fed back
        // in from the handler; the payload in hand must stay as it was.
        if (length > 0 && payload[0] == 'R' && nesting == 0) {
            const std::vector<std::uint8_t> before(payload, payload + length);
            ++nesting;
            const std::uint8_t reply[] = {0, 0, 0, 2, 'o', 'k'};
            assembler.feed(reply, sizeof reply, onFrame);
            --nesting;
            if (!std::equal(before.begin(), before.end(), payload)) __builtin_trap();
        }
    };
    std::size_t position = 0;
    while (position < size) {
        const std::uint8_t lengthByte = data[position++];
        const std::size_t chunk = std::min<std::size_t>(lengthByte, size - position);
        if (lengthByte == 0xff) assembler.reset();
        assembler.feed(data + position, static_cast<std::uint32_t>(chunk), onFrame);
        position += chunk;
    }
    return sum == 0xdeadbeef ? 1 : 0;
}
