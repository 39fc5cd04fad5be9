#include "links/PacketSerial.h"

#include "links/BigEndian.h"
#include "links/SerialCreator.h"

#include <cstring>
#include <new>
#include <string>

namespace {
constexpr std::uint32_t lengthFieldSize = FrameAssembler::lengthFieldSize;
} // namespace

PacketSerial::PacketSerial(ISerialClient* client, const char* innerTypeName)
    : PacketSerial(client, [innerTypeName](ISerialClient* innerClient) {
          return SerialCreator::instance()->create(innerClient, innerTypeName);
      }) {}

PacketSerial::PacketSerial(ISerialClient* client, const InnerMaker& makeInner) : ISerial(client) {
    inner_ = makeInner(static_cast<ISerialClient*>(this));
}

PacketSerial::~PacketSerial() { inner_.reset(); }

bool PacketSerial::open(std::uint32_t parameterCount, const VARIANT* parameters) {
    if (!inner_) return false;
    assembler_.reset();
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
    assembler_.feed(data, length, [this](const std::uint8_t* payload, std::uint32_t payloadLength) {
        deliverReceived(payload, payloadLength);
    });
}

void PacketSerial::onDataTransmitted(ISerial*, const std::uint8_t* data, std::uint32_t length) {
    // The client sees the payload as it gave it, without the length field.
    if (length >= lengthFieldSize) reportTransmitted(data + lengthFieldSize, length - lengthFieldSize);
}

void PacketSerial::onOnline() { setOnline(true); }

void PacketSerial::onOffline() { setOnline(false); }

void PacketSerial::onCommEvent(ISerial*, CommEvent event) {
    reportCommEvent(event);
}

void PacketSerial::onStatusChanged(ISerial* link) {
    // Carry the wrapped link's name; the online word is this link's own.
    std::string name = link->getStatus();
    std::size_t cut = name.find(" online");
    if (cut == std::string::npos) cut = name.find(" offline");
    if (cut != std::string::npos) name.resize(cut);
    setStatus(name);
}
