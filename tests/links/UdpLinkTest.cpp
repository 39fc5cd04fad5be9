// The UDP link on 127.0.0.1: datagrams to itself.
#include "links/UDP.h"

#include "../support/Variants.h"
#include "../support/OpenHandles.h"
#include "SocketLinkSupport.h"

#include <gtest/gtest.h>

namespace {

// Blocks written before the reader has bound its socket are dropped:
// sends probes until one comes back through `receiver`'s client.
bool waitUntilBound(ISerial& sender, RecordingClient& receiver) {
    for (int tries = 0; tries < 200; ++tries) {
        // Each probe its own text: datagrams reach a socket in order, so once
        // this one is back, no earlier probe is still on its way to confuse
        // what the test reads next.
        const std::string probe = "probe" + std::to_string(tries);
        sendBytes(sender, bytesOf(probe));
        if (receiver.waitFor("rx \"" + probe + "\"", 1, std::chrono::milliseconds(50))) return true;
    }
    return false;
}

} // namespace

TEST(UdpLink, ReceivesItsOwnDatagramsOneBlockEach) {
    RecordingClient client;
    UDP link(&client);
    client.name(&link, "udp");
    const int port = freePort();
    ASSERT_TRUE(openWith(link, {Value(port)}));
    const std::string name = "udp status udp " + std::to_string(port) + " <--> localhost:" + std::to_string(port);
    EXPECT_EQ(client.lines(), (Lines{name + " offline", "online", name + " online"}));
    ASSERT_TRUE(waitUntilBound(link, client));
    client.received();
    EXPECT_TRUE(sendBytes(link, bytesOf("abc")));
    EXPECT_TRUE(sendBytes(link, {})); // sent, but an empty datagram is not delivered
    EXPECT_TRUE(sendBytes(link, bytesOf("defgh")));
    ASSERT_TRUE(client.waitFor("udp rx \"defgh\""));
    EXPECT_EQ(client.received(), (std::vector<Bytes>{bytesOf("abc"), bytesOf("defgh")}));
    EXPECT_TRUE(client.waitFor("udp tx \"defgh\""));
    EXPECT_EQ(client.count("udp tx \"abc\""), 1);
    client.lines(); // the writer's reports may come after the reader's: only what close brings counts below

    EXPECT_FALSE(openWith(link, {Value(port)})); // already open
    ASSERT_TRUE(link.close());
    EXPECT_FALSE(link.close());
    EXPECT_FALSE(link.isOnline());
    EXPECT_EQ(client.lines(), (Lines{"offline", name + " offline"}));
}

TEST(UdpLink, OpenShapes) {
    RecordingClient client;
    UDP link(&client);
    client.name(&link, "udp");
    EXPECT_FALSE(openWith(link, {}));
    EXPECT_FALSE(openWith(link, {Value("host")}));
    EXPECT_FALSE(openWith(link, {Value(5000), Value(6000)}));
    EXPECT_FALSE(openWith(link, {Value(5000), Value("host"), Value::raw(VT_I2)}));
    EXPECT_FALSE(openWith(link, {Value(5000), Value("host"), Value(6000), Value(1)}));
    EXPECT_FALSE(link.isOpen());
    EXPECT_TRUE(client.lines().empty());
    // An empty destination leaves only the local port, its low 16 bits.
    ASSERT_TRUE(openWith(link, {Value(70000), Value("")}));
    EXPECT_EQ(client.lines().front(), "udp status udp 4464 offline");
    EXPECT_TRUE(link.close());
}

TEST(UdpLink, OpeningAndClosingLeavesNothingBehind) {
    RecordingClient client;
    UDP link(&client);
    const int port = freePort();
    const auto cycle = [&] {
        ASSERT_TRUE(openWith(link, {Value(port)}));
        ASSERT_TRUE(link.close());
    };
    cycle();
    const std::size_t before = openHandleCount();
    for (int round = 0; round < 100 && !testing::Test::HasFatalFailure(); ++round) cycle();
    EXPECT_EQ(openHandleCount(), before);
}
