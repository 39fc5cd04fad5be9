// What every link shares: the status text pair, the online flag, the
// encrypted send and receive paths, and the pause when a key or a link goes;
// and the encrypted block that both builds make and read alike.
#include "LinkTestSupport.h"
#include "tests/support/Pauses.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>

TEST(ISerial, StatusOnlineStateAndPlainTraffic) {
    RecordingClient client;
    ScriptedLink link(&client);
    EXPECT_EQ(link.getStatus(), "unknown offline");
    link.setOnline(true);
    link.setOnline(true);
    link.setStatus("rs232 com3,9600,None");
    link.setOnline(false);
    link.setStatus("");
    EXPECT_TRUE(sendBytes(link, bytesOf("abc")));
    link.feed({});
    EXPECT_EQ(client.lines(), (Lines{"online", "status unknown online", "status unknown online",
                                     "status rs232 com3,9600,None online", "offline",
                                     "status rs232 com3,9600,None offline", "status  offline",
                                     "tx \"abc\"", "rx \"\""}));
}

TEST(ISerial, EncryptedBlocks) {
    RecordingClient client;
    ScriptedLink link(&client);
    setKey(link, "secret");
    // Every message starts the key stream afresh.
    EXPECT_TRUE(sendBytes(link, bytesOf("hello world")));
    EXPECT_TRUE(sendBytes(link, bytesOf("hello world")));
    EXPECT_EQ(client.lines(), Lines(2, "tx 0000000bfe7994b3d45fd8e90f79db"));

    const Bytes first = encryptedBlock("secret", bytesOf("first"));
    const Bytes second = encryptedBlock("secret", bytesOf("second"));
    const Bytes empty = encryptedBlock("secret", {});
    const auto deliveries = [&](const Bytes& chunk) {
        link.feed(chunk);
        return client.received();
    };
    // Chunks of 4 bytes or fewer are dropped; whole blocks give one call each.
    EXPECT_TRUE(deliveries(empty).empty());
    EXPECT_TRUE(deliveries(fromHex("00000001")).empty());
    EXPECT_EQ(deliveries(concat({first, second})), (std::vector<Bytes>{bytesOf("first"), bytesOf("second")}));
    // A block running past the end of its chunk ends the chunk.
    EXPECT_EQ(deliveries(concat({first, withLength(bytesOf("short"), 100), second})), std::vector<Bytes>{bytesOf("first")});
    // An empty block is an empty message, but at the end of a chunk it is a
    // remainder of 4 bytes, which is dropped like any remainder that short.
    EXPECT_EQ(deliveries(concat({empty, first, empty})), (std::vector<Bytes>{{}, bytesOf("first")}));
    EXPECT_EQ(deliveries(concat({second, fromHex("01020304")})), std::vector<Bytes>{bytesOf("second")});

    link.setEncryptionKey(nullptr, 0);
    EXPECT_TRUE(sendBytes(link, bytesOf("hello world")));
    link.feed(fromHex("00"));
    EXPECT_EQ(client.lines(), (Lines{"tx \"hello world\"", "rx 00"}));
}

// The pause is 1000 ms; only a generous lower bound is checked.
TEST(ISerial, KeyChangesAndDestructionPause) {
    const FullPauses fullPauses;
    auto link = std::make_unique<ScriptedLink>(nullptr);
    const auto paused = [](auto&& step) {
        const auto start = std::chrono::steady_clock::now();
        step();
        return std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(900);
    };
    EXPECT_TRUE(paused([&] { setKey(*link, "secret"); }));
    EXPECT_TRUE(paused([&] { link.reset(); }));
}

// The data file holds a block that the Linux build made from this pass
// phrase and a message of this text followed by every byte value.
TEST(Encrypt, BothBuildsMakeAndReadTheSameBlock) {
    Bytes message = bytesOf("A block made by the Linux build: ");
    for (int value = 0; value < 256; ++value) message.push_back(static_cast<std::uint8_t>(value));
    std::ifstream file(VARNEL_LINKS_TEST_DATA "/linux-block.bin", std::ios::binary);
    const Bytes stored{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_EQ(stored.size(), message.size() + 4) << "missing or damaged test data file";
    const std::string_view passPhrase = "pass phrase shared by both builds";
    EXPECT_EQ(encryptedBlock(passPhrase, message), stored);
    Bytes plain;
    ASSERT_TRUE(encryptorFor(passPhrase).decrypt(stored.data() + 4, static_cast<std::uint32_t>(stored.size() - 4), plain));
    EXPECT_EQ(plain, message);
}
