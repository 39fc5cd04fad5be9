// A link whose channel the test drives by hand. What open, close and write
// answer is set by the test; what it is given to write is kept (and
// reported transmitted); received chunks and line events are raised by the
// test on its own thread, or chunks are streamed by a thread of the link's
// own that its destructor stops, as a real link's threads are.
#pragma once

#include "links/ISerial.h"
#include "links/ISerialClient.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

class ScriptedLink final : public ISerial {
public:
    explicit ScriptedLink(ISerialClient* client) : ISerial(client) {}
    ~ScriptedLink() override {
        stopStreaming();
        if (onDestroyed) onDestroyed();
    }

    bool open(std::uint32_t, const VARIANT*) override {
        if (!openResult) return false;
        open_ = true;
        setOnline(true);
        return true;
    }
    bool close() override {
        open_ = false;
        setOnline(false);
        return closeResult;
    }
    bool isOpen() override {
        ++isOpenCalls;
        return open_;
    }
    bool write(const std::uint8_t* data, std::uint32_t length) override {
        if (!acceptWrites) return false;
        written.emplace_back(data, data + length);
        if (reportTransmitted) ISerial::reportTransmitted(data, length);
        return true;
    }

    // One chunk from the channel, as an exact-size copy so that the
    // sanitizer catches any read past its end.
    void feed(const Bytes& chunk) {
        const Bytes exact(chunk);
        deliverReceived(exact.data(), static_cast<std::uint32_t>(exact.size()));
    }
    void receive(std::string_view chunk) { feed(Bytes(chunk.begin(), chunk.end())); }
    void raise(CommEvent event) { reportCommEvent(event); }
    // Delivers `chunk` about every millisecond until stopped.
    void startStreaming(std::string chunk) {
        streaming_ = true;
        streamer_ = std::thread([this, chunk = std::move(chunk)] {
            for (; streaming_; std::this_thread::sleep_for(std::chrono::milliseconds(1))) receive(chunk);
        });
    }
    void stopStreaming() {
        streaming_ = false;
        if (streamer_.joinable()) streamer_.join();
    }
    // Everything written, as one text.
    std::string writtenText() const {
        std::string text;
        for (const Bytes& block : written) text.append(block.begin(), block.end());
        return text;
    }
    using ISerial::setOnline;
    using ISerial::setStatus;

    std::atomic<bool> openResult{true}, closeResult{true}, acceptWrites{true}, reportTransmitted{true};
    std::atomic<long> isOpenCalls{0}; // a waiting reader asks at least once per poll interval
    std::vector<Bytes> written;       // on the sending thread only
    std::function<void()> onDestroyed; // told when the link's own destructor runs

private:
    std::atomic<bool> open_{false}, streaming_{false};
    std::thread streamer_;
};
