// A serial port whose line, and whose faults, the test scripts: it hands
// the reader the line events the test queued, with the bytes that came
// with them, writes down every call the link makes, and fails whatever the
// test tells it to. The link owns the port; the test keeps the shared script.
#pragma once

#include "platform/serial_port.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct PortScript {
    std::atomic<bool> opens{true};   // false: the port cannot be opened or configured
    std::atomic<bool> removed{false}; // true: every call fails, as for a device pulled out
    std::atomic<bool> writes{true};  // false: every write fails

    // The next wait reports `events`; `bytes` are then there to read.
    void arrive(std::uint32_t events, std::string bytes = {}) {
        const std::lock_guard lock(mutex);
        arrivals.push_back({events, std::move(bytes)});
    }
    // The calls so far, emptying the record: "open 3 9600 flow 1", "read",
    // "write abc", "close" (waits are counted, not written down).
    std::vector<std::string> takeCalls() {
        const std::lock_guard lock(mutex);
        return std::exchange(calls, {});
    }
    void record(std::string call) {
        {
            const std::lock_guard lock(mutex);
            calls.push_back(std::move(call));
        }
        called.notify_all();
    }
    // Waits up to `limit` until `call` is among the calls not yet taken.
    bool waitForCall(const std::string& call, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex);
        return called.wait_for(lock, limit, [&] { return std::find(calls.begin(), calls.end(), call) != calls.end(); });
    }

    std::mutex mutex;
    std::condition_variable called;
    std::deque<std::pair<std::uint32_t, std::string>> arrivals; // guarded by mutex
    std::string unread;                                         // guarded by mutex
    std::vector<std::string> calls;                             // guarded by mutex
    std::atomic<long> waits{0};
};

class ScriptedSerialPort final : public platform::SerialPort {
public:
    explicit ScriptedSerialPort(std::shared_ptr<PortScript> script) : script_(std::move(script)) {}

    bool open(std::uint32_t number, const platform::SerialSettings& settings) override {
        script_->record("open " + std::to_string(number) + " " + std::to_string(settings.baudRate) + " flow " +
                        std::to_string(static_cast<int>(settings.flowControl)));
        return script_->opens && !script_->removed;
    }
    void close() override { script_->record("close"); }

    // Like the system's ports, a wait ends by itself now and then with no events.
    platform::PortOutcome waitForEvents(const platform::StopSignal& stop) override {
        ++script_->waits;
        for (int slice = 0; slice < 50; ++slice) {
            if (script_->removed) return {platform::PortOutcome::State::Failed};
            {
                const std::lock_guard lock(script_->mutex);
                if (!script_->arrivals.empty()) {
                    auto [events, bytes] = std::move(script_->arrivals.front());
                    script_->arrivals.pop_front();
                    script_->unread += bytes;
                    return {platform::PortOutcome::State::Done, events};
                }
            }
            if (stop.waitFor(std::chrono::milliseconds(1))) return {platform::PortOutcome::State::Stopped};
        }
        return {platform::PortOutcome::State::Done};
    }

    platform::PortOutcome read(std::uint8_t* buffer, std::size_t capacity, const platform::StopSignal&) override {
        script_->record("read");
        if (script_->removed) return {platform::PortOutcome::State::Failed};
        const std::lock_guard lock(script_->mutex);
        const std::size_t count = std::min(capacity, script_->unread.size());
        std::copy_n(script_->unread.begin(), count, buffer);
        script_->unread.erase(0, count);
        return {platform::PortOutcome::State::Done, 0, count};
    }

    platform::PortOutcome write(const std::uint8_t* data, std::size_t length, const platform::StopSignal&) override {
        const bool fails = script_->removed || !script_->writes;
        script_->record("write " + std::string(data, data + length));
        if (fails) return {platform::PortOutcome::State::Failed};
        return {platform::PortOutcome::State::Done, 0, length};
    }

private:
    std::shared_ptr<PortScript> script_;
};
