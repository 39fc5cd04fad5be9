// A client that writes down every callback as one line of text, and helpers
// for the bytes that links frame and encrypt. The link that the tests drive
// by hand is the shared ScriptedLink.
#pragma once

#include "../support/ScriptedLink.h"
#include "../support/Variants.h"
#include "links/BigEndian.h"
#include "links/Encrypt.h"
#include "links/ISerial.h"
#include "links/ISerialClient.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using Lines = std::vector<std::string>;

inline Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline Bytes fromHex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A 4-byte big-endian length, then the payload: a packet frame, or an
// encrypted block when the payload is ciphertext.
inline Bytes withLength(std::uint32_t length, const Bytes& payload) {
    Bytes out(4 + payload.size());
    storeBigEndian32(out.data(), length);
    std::copy(payload.begin(), payload.end(), out.begin() + 4);
    return out;
}
inline Bytes withLength(const Bytes& payload) { return withLength(static_cast<std::uint32_t>(payload.size()), payload); }

// Printable bytes as "text", anything else as hex digits.
inline std::string show(const std::uint8_t* data, std::uint32_t length) {
    const bool printable = std::all_of(data, data + length, [](std::uint8_t b) { return b >= 0x20 && b < 0x7f; });
    if (printable) return '"' + std::string(data, data + length) + '"';
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint32_t i = 0; i < length; ++i) out += {digits[data[i] >> 4], digits[data[i] & 15]};
    return out;
}

class RecordingClient : public ISerialClient {
public:
    // Lines name the link they come from: "<name> rx <data>", "<name> tx
    // <data>", "<name> event <code>", "<name> status <text>", and the bare
    // "online" and "offline".
    void name(ISerial* link, std::string text) { names_[link] = std::move(text); }

    void onDataReceived(ISerial* link, const std::uint8_t* data, std::uint32_t length) override {
        const std::lock_guard lock(mutex_);
        lines_.push_back(nameOf(link) + " rx " + show(data, length));
        received_.emplace_back(data, data + length);
    }
    void onDataTransmitted(ISerial* link, const std::uint8_t* data, std::uint32_t length) override {
        add(nameOf(link) + " tx " + show(data, length));
    }
    void onOnline() override { add("online"); }
    void onOffline() override { add("offline"); }
    void onCommEvent(ISerial* link, CommEvent event) override {
        add(nameOf(link) + " event " + std::to_string(static_cast<std::uint32_t>(event)));
    }
    // Reads the status inside the callback, as testers do: this would
    // deadlock if the link held its status lock across the call.
    void onStatusChanged(ISerial* link) override { add(nameOf(link) + " status " + link->getStatus()); }

    // What happened since the last take, emptying the record.
    Lines lines() {
        const std::lock_guard lock(mutex_);
        received_.clear();
        return std::exchange(lines_, {});
    }
    // Only the received payloads since the last take, emptying the record.
    std::vector<Bytes> received() {
        const std::lock_guard lock(mutex_);
        lines_.clear();
        return std::exchange(received_, {});
    }

private:
    void add(std::string line) {
        const std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
    }
    std::string nameOf(ISerial* link) const {
        const auto found = names_.find(link);
        return found == names_.end() ? "?" : found->second;
    }
    std::mutex mutex_;
    std::map<ISerial*, std::string> names_;
    Lines lines_;
    std::vector<Bytes> received_;
};

inline void setKey(ISerial& link, std::string_view passPhrase) {
    link.setEncryptionKey(reinterpret_cast<const std::uint8_t*>(passPhrase.data()),
                          static_cast<std::uint32_t>(passPhrase.size()));
}

// Opens the link with these values as the action's parameters.
inline bool openWith(ISerial& link, const std::vector<Value>& parameters) {
    std::vector<VARIANT> raw;
    for (const Value& value : parameters) raw.push_back(value.get());
    return link.open(static_cast<std::uint32_t>(raw.size()), raw.data());
}

inline bool sendBytes(ISerial& link, const Bytes& data) {
    return link.send(data.data(), static_cast<std::uint32_t>(data.size()));
}

inline Encrypt encryptorFor(std::string_view passPhrase) {
    return Encrypt(reinterpret_cast<const std::uint8_t*>(passPhrase.data()),
                   static_cast<std::uint32_t>(passPhrase.size()));
}

// An encrypted block as a link with this pass phrase sends it; empty on failure.
inline Bytes encryptedBlock(const Encrypt& encryptor, const Bytes& message) {
    Bytes block;
    if (!encryptor.encrypt(message.data(), static_cast<std::uint32_t>(message.size()), block)) return {};
    storeBigEndian32(block.data(), static_cast<std::uint32_t>(message.size()));
    return block;
}
inline Bytes encryptedBlock(std::string_view passPhrase, const Bytes& message) {
    return encryptedBlock(encryptorFor(passPhrase), message);
}
