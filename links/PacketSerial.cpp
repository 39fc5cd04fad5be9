#include "links/PacketSerial.h"

#include "links/BigEndian.h"
#include "links/SerialCreator.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

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
    sent_.reset();
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
    sent_.track(data, length, [this](const std::uint8_t* payload, std::uint32_t payloadLength) {
        reportTransmitted(payload, payloadLength);
    });
}

void PacketSerial::onOnline() {
    // A new connection starts with a new frame; a frame cut short by the
    // last one was dropped with it.
    sent_.reset();
    setOnline(true);
}

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

void PacketSerial::SentFrameTracker::track(const std::uint8_t* data, std::uint32_t length,
                                           const FrameAssembler::FrameHandler& reportPayload) {
    // Worked out under the lock, reported after it, so a client's callback
    // never runs with it held.
    std::vector<std::pair<const std::uint8_t*, std::uint32_t>> payloads;
    {
        const std::lock_guard lock(lock_);
        while (length > 0) {
            if (headerSeen_ < lengthFieldSize) {
                const std::uint32_t taken = std::min(lengthFieldSize - headerSeen_, length);
                std::memcpy(header_.data() + headerSeen_, data, taken);
                headerSeen_ += taken;
                data += taken;
                length -= taken;
                if (headerSeen_ < lengthFieldSize) break;
                payloadLeft_ = loadBigEndian32(header_.data());
                if (payloadLeft_ == 0) {
                    payloads.emplace_back(data, 0); // an empty frame is reported as an empty payload
                    headerSeen_ = 0;
                    continue;
                }
            }
            const std::uint32_t piece = std::min(payloadLeft_, length);
            payloads.emplace_back(data, piece);
            data += piece;
            length -= piece;
            payloadLeft_ -= piece;
            if (payloadLeft_ == 0) headerSeen_ = 0;
        }
    }
    for (const auto& [payload, payloadLength] : payloads) reportPayload(payload, payloadLength);
}

void PacketSerial::SentFrameTracker::reset() {
    const std::lock_guard lock(lock_);
    headerSeen_ = 0;
    payloadLeft_ = 0;
}
