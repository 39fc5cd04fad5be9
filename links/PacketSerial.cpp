#include "links/PacketSerial.h"

#include "links/BigEndian.h"
#include "links/SerialCreator.h"

#include <cstring>
#include <new>
#include <string>

namespace {
constexpr std::size_t initialPayloadSize = 1024;
constexpr std::uint32_t lengthFieldSize = 4;
} // namespace

PacketSerial::PacketSerial(ISerialClient* client, const char* innerTypeName)
    : PacketSerial(client, [innerTypeName](ISerialClient* innerClient) {
          return SerialCreator::instance()->create(innerClient, innerTypeName);
      }) {}

PacketSerial::PacketSerial(ISerialClient* client, const InnerMaker& makeInner)
    : ISerial(client), payload_(initialPayloadSize) {
    inner_ = makeInner(static_cast<ISerialClient*>(this));
}

PacketSerial::~PacketSerial() { inner_.reset(); }

bool PacketSerial::open(std::uint32_t parameterCount, const VARIANT* parameters) {
    if (!inner_) return false;
    receivedCount_ = 0;
    return inner_->open(parameterCount, parameters);
}

bool PacketSerial::close() { return inner_ && inner_->close(); }

bool PacketSerial::isOpen() { return inner_ && inner_->isOpen(); }

bool PacketSerial::write(const std::uint8_t* data, std::uint32_t length) {
    if (!inner_ || length > UINT32_MAX - lengthFieldSize) return false;
    std::vector<std::uint8_t> frame;
    try {
        frame.resize(std::size_t{length} + lengthFieldSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    storeBigEndian32(frame.data(), length);
    if (length != 0) std::memcpy(frame.data() + lengthFieldSize, data, length);
    return inner_->send(frame.data(), static_cast<std::uint32_t>(frame.size()));
}

void PacketSerial::onDataReceived(ISerial*, const std::uint8_t* data, std::uint32_t length) {
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
        deliverFrame(frameLength);
    }
}

void PacketSerial::deliverFrame(std::uint32_t frameLength) {
    // The client may send from inside its callback, and a link that answers
    // on the sending thread then reassembles into the buffer again. The
    // buffer is lent out for the call so that the client's data stays as it
    // was; it comes back afterwards unless a nested frame is half built in
    // the buffer used meanwhile.
    std::vector<std::uint8_t> frame;
    frame.swap(payload_);
    deliverReceived(frame.data(), frameLength);
    if (receivedCount_ <= lengthFieldSize && payload_.size() <= frame.size()) payload_.swap(frame);
}

void PacketSerial::onDataTransmitted(ISerial*, const std::uint8_t* data, std::uint32_t length) {
    // The client sees the payload as it gave it, without the length field.
    if (client() && length >= lengthFieldSize)
        client()->onDataTransmitted(this, data + lengthFieldSize, length - lengthFieldSize);
}

void PacketSerial::onOnline() { setOnline(true); }

void PacketSerial::onOffline() { setOnline(false); }

void PacketSerial::onCommEvent(ISerial*, CommEvent event) {
    if (client()) client()->onCommEvent(this, event);
}

void PacketSerial::onStatusChanged(ISerial* link) {
    // Carry the wrapped link's name; the online word is this link's own.
    std::string name = link->getStatus();
    std::size_t cut = name.find(" online");
    if (cut == std::string::npos) cut = name.find(" offline");
    if (cut != std::string::npos) name.resize(cut);
    setStatus(name);
}
