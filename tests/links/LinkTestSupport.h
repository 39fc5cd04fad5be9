// A client that writes down every callback as one line of text, and helpers
// for the bytes that links frame and encrypt.
#pragma once

#include "../support/ScriptedLink.h"
#include "../support/Variants.h"
#include "links/BigEndian.h"
#include "links/Encrypt.h"
#include "links/ISerial.h"
#include "links/ISerialClient.h"
#include "platform/stop_signal.h"
#include "platform/thread.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
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

// A 4-byte big-endian length (the payload's unless given), then the payload.
inline Bytes withLength(const Bytes& payload, std::int64_t length = -1) {
    Bytes out(4);
    storeBigEndian32(out.data(), static_cast<std::uint32_t>(length < 0 ? payload.size() : length));
    return concat({out, payload});
}

// Printable bytes as "text", anything else as hex digits.
inline std::string show(const std::uint8_t* data, std::uint32_t length) {
    const bool printable = std::all_of(data, data + length, [](std::uint8_t b) { return b >= 0x20 && b < 0x7f; });
    if (printable) return '"' + std::string(data, data + length) + '"';
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint32_t i = 0; i < length; ++i) out += {digits[data[i] >> 4], digits[data[i] & 15]};
    return out;
}

inline constexpr std::chrono::seconds patience{10};

// A stop signal that sets itself `patience` after it was made.
class GiveUp {
public:
    GiveUp() : watchdog_([this] {
        if (!finished_.waitFor(patience)) signal_.signal();
    }) {}
    ~GiveUp() {
        finished_.signal();
        watchdog_.joinFor(patience);
    }
    GiveUp(const GiveUp&) = delete;
    GiveUp& operator=(const GiveUp&) = delete;
    const platform::StopSignal& signal() const { return signal_; }

private:
    platform::StopSignal signal_;
    platform::StopSignal finished_;
    platform::JoinableThread watchdog_; // last: it uses the signals above
};

// Writes down every callback as one line: "rx|tx <data>", "event <code>",
// "status <text>", "online" or "offline".
class RecordingClient : public ISerialClient {
public:
    void onDataReceived(ISerial*, const std::uint8_t* data, std::uint32_t length) override {
        record("rx " + show(data, length), Bytes(data, data + length));
    }
    void onDataTransmitted(ISerial*, const std::uint8_t* data, std::uint32_t length) override {
        record("tx " + show(data, length));
    }
    void onOnline() override { record("online"); }
    void onOffline() override { record("offline"); }
    void onCommEvent(ISerial*, CommEvent event) override { record("event " + std::to_string(static_cast<int>(event))); }
    // Reads the status inside the callback, as testers do: this would
    // deadlock if the link held its status lock across the call.
    void onStatusChanged(ISerial* link) override { record("status " + link->getStatus()); }

    Lines lines() { // since the last take, and takes them
        const std::lock_guard lock(mutex_);
        received_.clear();
        return Lines(all_.begin() + static_cast<std::ptrdiff_t>(std::exchange(taken_, all_.size())), all_.end());
    }
    std::vector<Bytes> received() { // the payloads since the last take, and takes them
        const std::lock_guard lock(mutex_);
        taken_ = all_.size();
        return std::exchange(received_, {});
    }
    int count(const std::string& part) {
        const std::lock_guard lock(mutex_);
        return occurrences(part);
    }
    // Waits until `count` lines since the start hold `part`.
    bool waitFor(const std::string& part, int count = 1, std::chrono::milliseconds limit = patience) {
        return waitUntil([&] { return occurrences(part) >= count; }, limit);
    }
    // Waits until the bytes received since the start hold `text`.
    bool waitForReceived(std::string_view text, std::chrono::milliseconds limit = patience) {
        return waitUntil([&] { return receivedText_.find(text) != std::string::npos; }, limit);
    }
    // Tested after each callback; must not call back into this client.
    bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = patience) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, condition);
    }

private:
    void record(std::string line, std::optional<Bytes> payload = {}) {
        {
            const std::lock_guard lock(mutex_);
            all_.push_back(std::move(line));
            if (payload) {
                receivedText_.append(payload->begin(), payload->end());
                received_.push_back(std::move(*payload));
            }
        }
        changed_.notify_all();
    }
    int occurrences(const std::string& part) const {
        return static_cast<int>(std::count_if(all_.begin(), all_.end(),
                                              [&](const std::string& line) { return line.find(part) != std::string::npos; }));
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    Lines all_;
    std::size_t taken_ = 0;       // lines before this one were taken
    std::vector<Bytes> received_; // payloads not taken yet
    std::string receivedText_;    // every byte received since the start
};

inline void setKey(ISerial& link, std::string_view passPhrase) {
    link.setEncryptionKey(reinterpret_cast<const std::uint8_t*>(passPhrase.data()), static_cast<std::uint32_t>(passPhrase.size()));
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
    return Encrypt(reinterpret_cast<const std::uint8_t*>(passPhrase.data()), static_cast<std::uint32_t>(passPhrase.size()));
}

// An encrypted block as a link with this pass phrase sends it; empty on failure.
inline Bytes encryptedBlock(std::string_view passPhrase, const Bytes& message) {
    Bytes block;
    if (!encryptorFor(passPhrase).encrypt(message.data(), static_cast<std::uint32_t>(message.size()), block)) return {};
    storeBigEndian32(block.data(), static_cast<std::uint32_t>(message.size()));
    return block;
}
