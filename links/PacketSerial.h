// Packet framing over a byte-stream link: each message goes out as one frame
// (4-byte big-endian payload length, then the payload), and each complete
// frame received comes to the client as one message, however the stream was
// cut into chunks. The framing link is at the same time the client of the
// link it wraps, and owns it.
#pragma once

#include "links/FrameAssembler.h"
#include "links/ISerial.h"
#include "links/ISerialClient.h"

#include <array>
#include <functional>
#include <mutex>
#include <memory>

class PacketSerial : public ISerial, public ISerialClient {
public:
    static constexpr std::uint32_t maxPayload = FrameAssembler::maxPayload;

    // Wraps a link that the factory makes from `innerTypeName`.
    PacketSerial(ISerialClient* client, const char* innerTypeName);

    // Makes the wrapped link with `makeInner`, which receives the client the
    // wrapped link must report to (this object). Null from it leaves the
    // framing link without a wrapped link: then every operation fails.
    using InnerMaker = std::function<std::unique_ptr<ISerial>(ISerialClient* innerClient)>;
    PacketSerial(ISerialClient* client, const InnerMaker& makeInner);

    // Destroys the wrapped link first, which stops its threads.
    ~PacketSerial() override;

    bool open(std::uint32_t parameterCount, const VARIANT* parameters) override;
    bool close() override;
    bool isOpen() override;
    // Frames the bytes and sends the frame on the wrapped link.
    bool write(const std::uint8_t* data, std::uint32_t length) override;

    // What the wrapped link reports.
    void onDataReceived(ISerial* link, const std::uint8_t* data, std::uint32_t length) override;
    void onDataTransmitted(ISerial* link, const std::uint8_t* data, std::uint32_t length) override;
    void onOnline() override;
    void onOffline() override;
    void onCommEvent(ISerial* link, CommEvent event) override;
    void onStatusChanged(ISerial* link) override;

private:
    // Where the wrapped link's transmitted reports stand in the stream of
    // frames: a report may end anywhere inside a frame (a link that sends a
    // block in several pieces, or whose connection failed part way), and
    // the client is shown the payload bytes among them and nothing else.
    class SentFrameTracker {
    public:
        // Reports the payload bytes among the next `length` bytes of the stream.
        void track(const std::uint8_t* data, std::uint32_t length, const FrameAssembler::FrameHandler& reportPayload);
        // The stream starts again at a frame boundary (open, a new connection).
        void reset();

    private:
        std::mutex lock_;                                           // the writer's reports race a reset on the reader
        std::uint32_t headerSeen_ = 0;                              // guarded by lock_
        std::array<std::uint8_t, FrameAssembler::lengthFieldSize> header_{}; // guarded by lock_
        std::uint32_t payloadLeft_ = 0;                             // guarded by lock_
    };

    SentFrameTracker sent_;
    FrameAssembler assembler_; // touched only by the wrapped link's receiving thread and by open
    std::unique_ptr<ISerial> inner_;            // the wrapped link; null only when making it failed
};
