// The loop-back link: every message sent comes straight back as received
// data, on the sending thread, before send returns. It has no threads and no
// handles; its name stays "unknown".
#pragma once

#include "links/ISerial.h"

class LoopBack : public ISerial {
public:
    explicit LoopBack(ISerialClient* client);

    // Parameters are ignored; false when the link is already open.
    bool open(std::uint32_t parameterCount, const VARIANT* parameters) override;
    bool close() override;
    bool isOpen() override;
    // Reports the bytes transmitted, then delivers them back as received.
    bool write(const std::uint8_t* data, std::uint32_t length) override;
};
