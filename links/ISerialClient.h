// The callbacks through which a link reports to the object that owns it.
#pragma once

#include <cstdint>

class ISerial;

// RS-232 line events, in the order the reader reports them.
enum class CommEvent : std::uint32_t {
    Break = 0,
    CTS = 1,
    DSR = 2,
    ERR = 3,
    RING = 4,
    RLSD = 5,
    RXCHAR = 6,
    RXFLAG = 7,
    TXEMPTY = 8,
};

class ISerialClient {
public:
    virtual ~ISerialClient() = default;
    // Bytes received (decrypted when a key is set); valid only during the call.
    virtual void onDataReceived(ISerial* link, const std::uint8_t* data, std::uint32_t length) = 0;
    // Bytes handed to the channel, as transmitted (encrypted and framed, if so).
    virtual void onDataTransmitted(ISerial* link, const std::uint8_t* data, std::uint32_t length) = 0;
    virtual void onOnline() = 0;
    virtual void onOffline() = 0;
    virtual void onCommEvent(ISerial* link, CommEvent event) = 0;
    // The status text changed (or was set again); read it with ISerial::getStatus.
    virtual void onStatusChanged(ISerial* link) = 0;
};
