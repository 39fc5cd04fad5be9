// Packet framing over a link that the test drives by hand.
#include "links/PacketSerial.h"

#include "links/LoopBack.h"

#include "LinkTestSupport.h"

#include <gtest/gtest.h>

namespace {

class PacketSerialTest : public ::testing::Test {
protected:
    PacketSerialTest()
        : packet(&client, [this](ISerialClient* innerClient) {
              auto link = std::make_unique<ScriptedLink>(innerClient);
              inner = link.get();
              return link;
          }) {}

    // The payloads delivered for the stream fed in chunks of `size` bytes.
    std::vector<Bytes> deliveries(const Bytes& stream, std::size_t size) {
        for (std::size_t at = 0; at < stream.size(); at += size)
            inner->feed(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                              stream.begin() + static_cast<std::ptrdiff_t>(std::min(at + size, stream.size()))));
        return client.received();
    }

    RecordingClient client;
    ScriptedLink* inner = nullptr; // owned by the packet link
    PacketSerial packet;
};

Bytes filled(std::size_t size, std::uint8_t seed) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 7);
    return out;
}

} // namespace

// Frames larger than the starting buffer and empty ones (also as the last
// bytes of a chunk), in chunks of every size up to 9 and whole in one chunk.
TEST_F(PacketSerialTest, Reassembly) {
    const std::vector<Bytes> payloads{filled(3000, 1), bytesOf("after"), {}, bytesOf("one"), filled(1500, 2), {}};
    Bytes stream;
    for (const Bytes& payload : payloads) stream = concat({stream, withLength(payload)});
    for (std::size_t size = 1; size <= 9; ++size) EXPECT_EQ(deliveries(stream, size), payloads) << size;
    EXPECT_EQ(deliveries(stream, stream.size()), payloads);
}

TEST_F(PacketSerialTest, LengthLimit) {
    const Bytes largest = filled(PacketSerial::maxPayload, 3);
    EXPECT_EQ(deliveries(withLength(largest), 40000), std::vector<Bytes>{largest});
    // One byte over: the frame and the rest of its chunk go, and the next
    // chunk starts a new frame.
    EXPECT_TRUE(deliveries(concat({fromHex("00007ffc"), withLength(bytesOf("lost"))}), 100).empty());
    inner->feed(fromHex("ffff"));
    inner->feed(concat({fromHex("ffff"), withLength(bytesOf("lost too"))}));
    EXPECT_EQ(deliveries(withLength(bytesOf("kept")), 100), std::vector<Bytes>{bytesOf("kept")});
}

// An encrypted message travels in one frame, whole however the stream is cut.
TEST_F(PacketSerialTest, SendingAndReopening) {
    EXPECT_TRUE(sendBytes(packet, bytesOf("abc")));
    EXPECT_TRUE(sendBytes(packet, {}));
    setKey(packet, "secret");
    EXPECT_TRUE(sendBytes(packet, bytesOf("hello world")));
    const Bytes wire = fromHex("0000000f" "0000000b" "fe7994b3d45fd8e90f79db");
    EXPECT_EQ(inner->written, (std::vector<Bytes>{fromHex("00000003616263"), fromHex("00000000"), wire}));
    EXPECT_EQ(client.lines().back(), "tx 0000000bfe7994b3d45fd8e90f79db");
    EXPECT_EQ(deliveries(concat({wire, wire}), 3), (std::vector<Bytes>{bytesOf("hello world"), bytesOf("hello world")}));
    EXPECT_TRUE(deliveries(fromHex("00000000"), 4).empty()); // an empty frame holds no block
    inner->acceptWrites = false;
    EXPECT_FALSE(sendBytes(packet, bytesOf("abc")));
    inner->feed(fromHex("000000"));
    ASSERT_TRUE(packet.open(0, nullptr)); // starts reassembly afresh
    EXPECT_EQ(deliveries(withLength(encryptedBlock("secret", bytesOf("fresh"))), 100), std::vector<Bytes>{bytesOf("fresh")});
}

TEST_F(PacketSerialTest, PassesOnStatusOnlineAndEvents) {
    inner->setStatus("rs232 com3,9600,None");
    inner->setOnline(true);
    inner->raise(CommEvent::RING);
    // The first online word is cut, wherever it stands.
    inner->setStatus("a offline b");
    inner->setStatus("a online b offline");
    inner->setOnline(false);
    const std::string rs232 = "status rs232 com3,9600,None";
    EXPECT_EQ(client.lines(), (Lines{rs232 + " offline", "online", rs232 + " online", rs232 + " online", "event 4",
                                     "status a offline b online", "status a online", "offline",
                                     "status a offline", "status a offline"}));
}

// The payload is reported as its frame leaves, however the inner link cuts it.
TEST_F(PacketSerialTest, PayloadReportedWhenTheFrameLeavesInPieces) {
    const Bytes stream = concat({withLength(bytesOf("ABC")), withLength(bytesOf("")), withLength(bytesOf("DE"))});
    // Pieces cut inside the length field, at the payload's start and across frames.
    std::size_t from = 0;
    for (const std::size_t cut : {2u, 5u, 6u, 9u, 12u, 13u, 17u}) {
        packet.onDataTransmitted(inner, stream.data() + from, static_cast<std::uint32_t>(cut - from));
        from = cut;
    }
    EXPECT_EQ(client.lines(),
              (Lines{"tx \"A\"", "tx \"B\"", "tx \"C\"", "tx \"\"", "tx \"DE\""}));
    // A frame cut short by a lost connection: the next connection starts afresh.
    packet.onDataTransmitted(inner, stream.data(), 5);
    inner->setOnline(true);
    packet.onDataTransmitted(inner, stream.data() + 11, 6);
    Lines sent = client.lines();
    std::erase_if(sent, [](const std::string& line) { return !line.starts_with("tx "); });
    EXPECT_EQ(sent, (Lines{"tx \"A\"", "tx \"DE\""}));
}

// Answers the first message with a larger one from inside the callback, then
// reads the data it was given: over a link that answers on the sending
// thread, the answer is reassembled while the first message is still read.
struct AnsweringClient : RecordingClient {
    void onDataReceived(ISerial* link, const std::uint8_t* data, std::uint32_t length) override {
        if (received.empty() && link) {
            received.emplace_back(); // marks the answer as sent before it comes back
            EXPECT_TRUE(sendBytes(*link, answer));
            received.front().assign(data, data + length);
        } else received.emplace_back(data, data + length);
    }
    Bytes answer = filled(5000, 9);
    std::vector<Bytes> received;
};

TEST(PacketSerialOverLoopBack, AClientMaySendFromInsideItsCallback) {
    AnsweringClient client;
    PacketSerial packet(&client, [](ISerialClient* inner) { return std::make_unique<LoopBack>(inner); });
    ASSERT_TRUE(packet.open(0, nullptr));
    ASSERT_TRUE(sendBytes(packet, bytesOf("ping")));
    ASSERT_TRUE(sendBytes(packet, bytesOf("again"))); // reassembly goes on as before
    EXPECT_EQ(client.received, (std::vector<Bytes>{bytesOf("ping"), client.answer, bytesOf("again")}));
}
