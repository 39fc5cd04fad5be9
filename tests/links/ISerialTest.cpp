// What every link shares: the status text pair, the online flag, the
// encrypted send and receive paths, and the pause when a key or a link goes.
#include "LinkTestSupport.h"
#include "tests/support/Pauses.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace {
using Clock = std::chrono::steady_clock;
// The pause is 1000 ms; only a generous lower bound is checked.
constexpr auto atLeastThePause = std::chrono::milliseconds(900);
} // namespace

TEST(ISerial, StatusOnlineStateAndPlainTraffic) {
    RecordingClient client;
    ScriptedLink link(&client);
    client.name(&link, "link");
    EXPECT_EQ(link.getStatus(), "unknown offline");
    EXPECT_FALSE(link.isOnline());

    link.setOnline(true);
    link.setOnline(true);
    EXPECT_TRUE(link.isOnline());
    link.setStatus("rs232 com3,9600,None");
    link.setOnline(false);
    link.setOnline(false);
    link.setStatus("");
    EXPECT_EQ(client.lines(), (Lines{"online", "link status unknown online", "link status unknown online",
                                     "link status rs232 com3,9600,None online", "offline",
                                     "link status rs232 com3,9600,None offline",
                                     "link status rs232 com3,9600,None offline", "link status  offline"}));

    EXPECT_TRUE(sendBytes(link, bytesOf("abc")));
    link.feed(bytesOf("xy"));
    link.feed({});
    EXPECT_EQ(client.lines(), (Lines{"link tx \"abc\"", "link rx \"xy\"", "link rx \"\""}));
    link.acceptWrites = false;
    EXPECT_FALSE(sendBytes(link, bytesOf("abc")));

    // Without a client a link works the same and reports nothing.
    ScriptedLink silent(nullptr);
    EXPECT_TRUE(silent.open(0, nullptr));
    EXPECT_TRUE(sendBytes(silent, bytesOf("abc")));
    silent.feed(bytesOf("abc"));
    silent.setStatus("quiet");
    EXPECT_EQ(silent.getStatus(), "quiet online");
    EXPECT_TRUE(client.lines().empty());
}

// One link through the whole life of a key.
TEST(ISerial, EncryptedBlocks) {
    RecordingClient client;
    ScriptedLink link(&client);
    client.name(&link, "link");
    setKey(link, "secret");
    EXPECT_TRUE(sendBytes(link, bytesOf("hello world")));
    EXPECT_EQ(client.lines(), Lines{"link tx 0000000bfe7994b3d45fd8e90f79db"});

    const Bytes first = encryptedBlock("secret", bytesOf("first"));
    const Bytes second = encryptedBlock("secret", bytesOf("second"));
    const Bytes empty = encryptedBlock("secret", {});
    const auto deliveries = [&](const Bytes& chunk) {
        link.feed(chunk);
        return client.received();
    };
    const std::vector<Bytes> none;
    // Chunks of 4 bytes or fewer are dropped.
    EXPECT_EQ(deliveries(empty), none);
    EXPECT_EQ(deliveries(fromHex("00000001")), none);
    // Whole blocks give one call each, in order.
    EXPECT_EQ(deliveries(concat({first, second})), (std::vector<Bytes>{bytesOf("first"), bytesOf("second")}));
    // A block running past the end of its chunk ends the chunk.
    EXPECT_EQ(deliveries(concat({first, withLength(100, bytesOf("short")), second})),
              std::vector<Bytes>{bytesOf("first")});
    EXPECT_EQ(deliveries(withLength(6, bytesOf("short"))), none);
    // An empty block is an empty message, but at the end of a chunk it is a
    // remainder of 4 bytes, which is dropped like any remainder that short.
    EXPECT_EQ(deliveries(concat({empty, first, empty})), (std::vector<Bytes>{{}, bytesOf("first")}));
    EXPECT_EQ(deliveries(concat({second, fromHex("01020304")})), std::vector<Bytes>{bytesOf("second")});
    // Another pass phrase gives other bytes; RC4 cannot tell.
    const auto garbled = deliveries(encryptedBlock("other", bytesOf("second")));
    ASSERT_EQ(garbled.size(), 1u);
    EXPECT_NE(garbled[0], bytesOf("second"));

    // A peer with the same pass phrase reads what the link sends, and back.
    ScriptedLink peer(&client);
    client.name(&peer, "peer");
    setKey(peer, "secret");
    client.lines();
    ASSERT_TRUE(sendBytes(link, bytesOf("ping")));
    peer.feed(link.written.back());
    ASSERT_TRUE(sendBytes(peer, bytesOf("pong")));
    link.feed(peer.written.back());
    EXPECT_EQ(client.lines(), (Lines{"link tx " + show(link.written.back().data(), 8), "peer rx \"ping\"",
                                     "peer tx " + show(peer.written.back().data(), 8), "link rx \"pong\""}));

    link.setEncryptionKey(nullptr, 0);
    EXPECT_TRUE(sendBytes(link, bytesOf("hello world")));
    link.feed(fromHex("00"));
    EXPECT_EQ(client.lines(), (Lines{"link tx \"hello world\"", "link rx 00"}));
}

TEST(ISerial, KeyChangesAndDestructionPause) {
    const FullPauses fullPauses;
    RecordingClient client;
    auto plain = std::make_unique<ScriptedLink>(&client);
    auto start = Clock::now();
    plain.reset();
    EXPECT_GE(Clock::now() - start, atLeastThePause);

    auto keyed = std::make_unique<ScriptedLink>(&client);
    start = Clock::now();
    setKey(*keyed, "secret");
    EXPECT_GE(Clock::now() - start, atLeastThePause);
    start = Clock::now();
    keyed.reset();
    EXPECT_GE(Clock::now() - start, atLeastThePause);
    EXPECT_TRUE(client.lines().empty());
}
