// What link threads may rely on while the objects around them change: a key
// replaced while traffic flows, a client whose callbacks throw, and the
// status text when the state changes on two threads at once. Fixed pauses
// are shortened here, so only ownership keeps a retired key alive.
#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

TEST(LinkLifetime, KeyReplacedWhileTrafficFlows) {
    RecordingClient client;
    ScriptedLink link(&client);
    const Bytes block = encryptedBlock("one", bytesOf("payload"));
    setKey(link, "one");
    std::atomic<bool> running{true};
    std::thread traffic([&] {
        while (running) {
            link.feed(block); // decrypts with whichever key is installed
            sendBytes(link, bytesOf("out"));
            client.lines();
        }
    });
    for (int i = 0; i < 200; ++i) setKey(link, i % 2 ? "one" : "two");
    running = false;
    traffic.join();
}

namespace {
// Every callback throws, as a client out of memory would.
struct ThrowingClient : ISerialClient {
    void onDataReceived(ISerial*, const std::uint8_t*, std::uint32_t) override { fail(); }
    void onDataTransmitted(ISerial*, const std::uint8_t*, std::uint32_t) override { fail(); }
    void onOnline() override { fail(); }
    void onOffline() override { fail(); }
    void onCommEvent(ISerial*, CommEvent) override { fail(); }
    void onStatusChanged(ISerial*) override { fail(); }
    void fail() {
        ++calls;
        throw std::runtime_error("client failure");
    }
    std::atomic<int> calls{0};
};
} // namespace

TEST(LinkLifetime, ThrowingClientCannotEndALinkThread) {
    ThrowingClient client;
    ScriptedLink link(&client);
    std::thread linkThread([&] {
        EXPECT_TRUE(link.open(0, nullptr));
        link.receive("abc");
        link.raise(CommEvent::CTS);
        EXPECT_TRUE(sendBytes(link, bytesOf("abc")));
        link.setStatus("scripted");
        EXPECT_TRUE(link.close());
    });
    linkThread.join();
    EXPECT_EQ(client.calls, 8); // online, status, rx, event, tx, status, offline, status
    EXPECT_EQ(link.getStatus(), "scripted offline");
}

TEST(LinkLifetime, StatusWordFollowsTheFlagUnderRacingChanges) {
    RecordingClient client; // reads the status in its callbacks
    for (int round = 0; round < 50; ++round) {
        ScriptedLink link(&client);
        std::thread up([&] { link.setOnline(true); });
        std::thread down([&] { link.setOnline(false); });
        up.join();
        down.join();
        EXPECT_EQ(link.getStatus(), link.isOnline() ? "unknown online" : "unknown offline");
    }
}
