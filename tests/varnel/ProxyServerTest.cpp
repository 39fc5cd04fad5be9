// `varnel serve`'s server over a real packet-framed TCP link on 127.0.0.1,
// sent the tester's messages, raw or broken ones included; a scripted
// service stands in for the script runner.
#include "varnel/ProxyServer.h"

#include "links/BigEndian.h"
#include "tests/links/SocketLinkSupport.h"
#include "tests/support/Variants.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

class ScriptedService final : public ScriptService {
public:
    // Every script hangs until aborted.
    std::string runScript(const std::string&, const LogSink&) override {
        abortRequested_.waitFor(patience);
        return "aborted";
    }
    void abortScript() override { abortRequested_.signal(); }
    std::string variable(const std::string& name) override { return "[\"" + name + "\", 1]"; }
    void forget() override { ++forgets; }

    std::atomic<int> forgets{0};

private:
    platform::StopSignal abortRequested_;
};

// The tester's side: sends one message per frame and reads each frame's
// units as texts.
class UnitClient final : public ISerialClient {
public:
    explicit UnitClient(const char* kind) : link(SerialCreator::instance()->create(this, kind)) {}
    // The link goes first: its threads call back into the members below.
    ~UnitClient() override { link.reset(); }

    void onDataReceived(ISerial*, const std::uint8_t* data, std::uint32_t length) override {
        {
            const std::lock_guard lock(mutex_);
            for (std::uint32_t at = 0; at + 4 <= length;) {
                const std::uint32_t size = loadBigEndian32(data + at);
                texts_.emplace_back(reinterpret_cast<const char*>(data + at + 4), size);
                at += 4 + size;
            }
        }
        arrived_.notify_all();
    }
    void onDataTransmitted(ISerial*, const std::uint8_t*, std::uint32_t) override {}
    void onOnline() override {}
    void onOffline() override {}
    void onCommEvent(ISerial*, CommEvent) override {}
    void onStatusChanged(ISerial*) override {}

    void send(const std::string& message) {
        link->send(reinterpret_cast<const std::uint8_t*>(message.data()), static_cast<std::uint32_t>(message.size()));
    }
    // The next answer, or "(none)" after `limit`.
    std::string next(std::chrono::milliseconds limit = patience) {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, limit, [this] { return !texts_.empty(); })) return "(none)";
        std::string text = std::move(texts_.front());
        texts_.pop_front();
        return text;
    }

    std::unique_ptr<ISerial> link;

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::string> texts_;
};

bool openClient(UnitClient& client, std::uint16_t port) {
    const Value host("127.0.0.1"), number(static_cast<int>(port));
    VARIANT parameters[2] = {host.get(), number.get()};
    return client.link->open(2, parameters);
}

class Served : public testing::Test {
protected:
    void SetUp() override {
        const Value number(static_cast<int>(port));
        VARIANT parameter = number.get();
        ASSERT_TRUE(server.start("tcppkt", 1, &parameter, ""));
        serving = std::thread([this] { server.serve(stop); });
    }
    void TearDown() override {
        stop.signal();
        serving.join();
    }

    const std::uint16_t port = freePort();
    ScriptedService service;
    ProxyServer server{service, [](const std::string&) {}};
    platform::StopSignal stop;
    std::thread serving;
};

TEST_F(Served, AnswersEachMessageOfTheTester) {
    UnitClient client("tcppkt");
    ASSERT_TRUE(openClient(client, port));
    client.send("connect");
    EXPECT_EQ(client.next(), "OK");
    client.send(std::string("hello\0hidden", 12)); // a NUL ends a message
    EXPECT_EQ(client.next(), "log:6unknown message 'hello' (connect, script:, variable:, abort, disconnect)");
    // An aborted script sends no result word: the next answer is the
    // variable's, not a late "aborted".
    client.send("script:hang");
    client.send("abort");
    EXPECT_EQ(client.next(), "OK");
    client.send("variable:after");
    EXPECT_EQ(client.next(), "[\"after\", 1]");

    client.send("disconnect");
    client.send("variable:sync"); // answered after the disconnect was handled
    EXPECT_EQ(client.next(), "[\"sync\", 1]");
    EXPECT_EQ(service.forgets, 1);
}

TEST_F(Served, ALostConnectionOrABrokenFrameAbortsAndDeletesAndServingGoesOn) {
    {
        UnitClient client("tcppkt");
        ASSERT_TRUE(openClient(client, port));
        client.send("connect");
        ASSERT_EQ(client.next(), "OK");
        client.send("script:hang");
    } // the connection drops mid-script: the script is aborted
    {
        // Half a frame header, then gone.
        UnitClient raw("tcp");
        ASSERT_TRUE(openClient(raw, port));
        raw.send(std::string("\0\0", 2));
    }
    // The server listens again once the last connection is gone; a
    // "connect" written into a connection it then drops is lost, so the
    // client asks again, as a tester's next action does.
    UnitClient client("tcppkt");
    ASSERT_TRUE(openClient(client, port));
    std::string answer;
    for (int attempt = 0; attempt < 20 && answer != "OK"; ++attempt) {
        client.send("connect");
        answer = client.next(std::chrono::milliseconds(500));
    }
    EXPECT_EQ(answer, "OK");
    EXPECT_GE(service.forgets, 1);
}

} // namespace
