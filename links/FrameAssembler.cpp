#include "links/FrameAssembler.h"

#include "links/BigEndian.h"

#include <cstring>
#include <new>

namespace {
constexpr std::size_t initialPayloadSize = 1024;
} // namespace

FrameAssembler::FrameAssembler() : payload_(initialPayloadSize) {}

void FrameAssembler::feed(const std::uint8_t* data, std::uint32_t length, const FrameHandler& onFrame) {
    std::uint32_t position = 0;
    while (position < length) {
        if (receivedCount_ < lengthFieldSize) {
            while (receivedCount_ < lengthFieldSize && position < length)
                lengthField_[receivedCount_++] = data[position++];
            if (receivedCount_ < lengthFieldSize) return;
        }
        const std::uint32_t frameLength = loadBigEndian32(lengthField_.data());
        if (frameLength > payload_.size()) {
            if (frameLength > maxPayload) {
                // Drop the frame and the rest of the chunk; the next byte
                // starts a new length field.
                receivedCount_ = 0;
                return;
            }
            try {
                payload_.resize(frameLength);
            } catch (const std::bad_alloc&) {
                receivedCount_ = 0; // no room for it: dropped like an oversized frame
                return;
            }
        }
        const std::uint32_t held = receivedCount_ - lengthFieldSize;
        const std::uint32_t needed = frameLength - held;
        const std::uint32_t available = length - position;
        if (needed > available) {
            std::memcpy(payload_.data() + held, data + position, available);
            receivedCount_ += available;
            return;
        }
        std::memcpy(payload_.data() + held, data + position, needed);
        position += needed;
        receivedCount_ = 0;
        deliver(frameLength, onFrame);
    }
}

void FrameAssembler::deliver(std::uint32_t frameLength, const FrameHandler& onFrame) {
    // The handler may feed this assembler again from inside the call, which
    // reassembles into the buffer again. The buffer is lent out for the call
    // so that the handler's data stays as it was; it comes back afterwards
    // unless a nested frame is half built in the buffer used meanwhile.
    std::vector<std::uint8_t> frame;
    frame.swap(payload_);
    onFrame(frame.data(), frameLength);
    if (receivedCount_ <= lengthFieldSize && payload_.size() <= frame.size()) payload_.swap(frame);
}
