// For the socket links: a client whose record a test can wait on, and
// peers on 127.0.0.1 made with the sockets seam, each waiting at most
// `patience` and then failing the test rather than hanging.
#pragma once

#include "LinkTestSupport.h"
#include "links/SerialCreator.h"
#include "platform/socket.h"
#include "platform/stop_signal.h"
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

inline constexpr std::chrono::seconds patience{10};

// Records every callback as RecordingClient does, and wakes waiters.
class WatchingClient : public RecordingClient {
public:
    void onDataReceived(ISerial* link, const std::uint8_t* data, std::uint32_t length) override {
        record([&] {
            RecordingClient::onDataReceived(link, data, length);
            const std::lock_guard lock(mutex_);
            received_.emplace_back(data, data + length);
        });
    }
    void onDataTransmitted(ISerial* link, const std::uint8_t* data, std::uint32_t length) override {
        record([&] { RecordingClient::onDataTransmitted(link, data, length); });
    }
    void onOnline() override { record([&] { RecordingClient::onOnline(); }); }
    void onOffline() override { record([&] { RecordingClient::onOffline(); }); }
    void onCommEvent(ISerial* link, CommEvent event) override {
        record([&] { RecordingClient::onCommEvent(link, event); });
    }
    void onStatusChanged(ISerial* link) override { record([&] { RecordingClient::onStatusChanged(link); }); }

    // What happened since the last take, as RecordingClient gives it.
    Lines lines() {
        const std::lock_guard lock(mutex_);
        received_.clear();
        return Lines(all_.begin() + static_cast<std::ptrdiff_t>(std::exchange(taken_, all_.size())), all_.end());
    }
    std::vector<Bytes> received() {
        const std::lock_guard lock(mutex_);
        taken_ = all_.size();
        return std::exchange(received_, {});
    }
    // Every line since the start (takes do not empty this one).
    Lines all() {
        const std::lock_guard lock(mutex_);
        return all_;
    }
    // Waits until `count` lines since the start hold `part`; false after `limit`.
    bool waitFor(const std::string& part, int count = 1, std::chrono::milliseconds limit = patience) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return occurrences(part) >= count; });
    }
    // Waits until `condition` holds, tested after each callback; false after
    // `limit`. The condition must not call back into this client.
    bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = patience) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, condition);
    }
    int occurrences(const std::string& part) const {
        int found = 0;
        for (const std::string& line : all_) found += line.find(part) != std::string::npos;
        return found;
    }
    int count(const std::string& part) {
        const std::lock_guard lock(mutex_);
        return occurrences(part);
    }

private:
    void record(const std::function<void()>& call) {
        call();
        // The lines move from the base's record to this one.
        Lines newest = RecordingClient::lines();
        {
            const std::lock_guard lock(mutex_);
            all_.insert(all_.end(), newest.begin(), newest.end());
        }
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    Lines all_;
    std::size_t taken_ = 0;         // lines before this one were taken
    std::vector<Bytes> received_;   // payloads not taken yet
};

// A port that nothing listens on at the moment. Starts the sockets library
// first, as a tester's "new" does through the factory.
inline std::uint16_t freePort() {
    SerialCreator::instance();
    int error = 0;
    platform::Socket probe = platform::Socket::create(platform::Socket::Kind::Stream, error);
    probe.bindAnyAddress(0, false);
    return probe.localPort();
}

inline constexpr std::uint32_t loopbackAddress = 0x7F000001;

// A stop signal that sets itself `patience` after it was made, so that a
// wait of the test's own cannot outlast the test.
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

// The far end of a connection, driven by the test. Its waits give up
// `patience` after it was made.
class Peer {
public:
    // Listens on `port` of every interface.
    void listen(std::uint16_t port) {
        int error = 0;
        listener_ = platform::Socket::create(platform::Socket::Kind::Stream, error);
        ASSERT_EQ(listener_.bindAnyAddress(port, true), 0);
        ASSERT_EQ(listener_.listen(1), 0);
    }
    bool accept() { return listener_.accept(connection_, giveUp_.signal()).done(); }
    bool connect(std::uint16_t port) {
        int error = 0;
        connection_ = platform::Socket::create(platform::Socket::Kind::Stream, error);
        return connection_.connect({loopbackAddress, port}, giveUp_.signal()).done();
    }
    void send(const std::string& text) {
        EXPECT_EQ(connection_.send(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), giveUp_.signal()).bytes,
                  text.size());
    }
    // Receives until `length` bytes came, the link shut down, or patience ran out.
    std::string receive(std::size_t length) {
        std::string text;
        std::uint8_t buffer[256];
        while (text.size() < length) {
            const platform::SocketOutcome got = connection_.receive(buffer, sizeof buffer, giveUp_.signal());
            if (!got.done() || got.bytes == 0) break;
            text.append(buffer, buffer + got.bytes);
        }
        return text;
    }
    void hangUp() { connection_.close(); }

private:
    GiveUp giveUp_;
    platform::Socket listener_;
    platform::Socket connection_;
};
