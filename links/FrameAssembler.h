// Reassembly of packet frames from a byte stream cut into arbitrary chunks:
// each frame is a 4-byte big-endian payload length followed by the payload.
// Free of the automation types, so fuzzers and small programs use it alone.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

class FrameAssembler {
public:
    // The largest payload a frame may announce; a larger one is dropped
    // together with the rest of its chunk.
    static constexpr std::uint32_t maxPayload = 32763;
    static constexpr std::uint32_t lengthFieldSize = 4;

    using FrameHandler = std::function<void(const std::uint8_t* payload, std::uint32_t length)>;

    FrameAssembler();

    // Feeds one received chunk; `onFrame` gets each frame it completes. The
    // handler may feed this assembler again (a reply that comes back on the
    // same thread): the payload it was given stays as it was.
    void feed(const std::uint8_t* data, std::uint32_t length, const FrameHandler& onFrame);
    // Forgets a half-received frame.
    void reset() { receivedCount_ = 0; }

private:
    void deliver(std::uint32_t frameLength, const FrameHandler& onFrame);

    std::uint32_t receivedCount_ = 0;           // bytes of the current frame so far, length field included
    std::vector<std::uint8_t> payload_;         // grows to the largest frame seen, never shrinks
    std::array<std::uint8_t, 4> lengthField_{}; // the current frame's length field as received
};
