#include "links/LoopBack.h"

LoopBack::LoopBack(ISerialClient* client) : ISerial(client) {}

bool LoopBack::open(std::uint32_t, const VARIANT*) {
    if (isOpen()) return false;
    setOnline(true);
    return true;
}

bool LoopBack::close() {
    if (!isOpen()) return false;
    setOnline(false);
    return true;
}

bool LoopBack::isOpen() { return isOnline(); }

bool LoopBack::write(const std::uint8_t* data, std::uint32_t length) {
    if (!isOpen()) return false;
    reportTransmitted(data, length);
    deliverReceived(data, length);
    return true;
}
