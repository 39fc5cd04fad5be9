// The TCP link against peers on 127.0.0.1, and packet framing over it.
#include "links/PacketSerial.h"
#include "links/SerialCreator.h"
#include "links/TCP.h"

#include "../support/OpenHandles.h"
#include "../support/Variants.h"
#include "SocketLinkSupport.h"

#include <gtest/gtest.h>

namespace {

class TcpLinkTest : public ::testing::Test {
protected:
    TcpLinkTest() { client.name(&link, "tcp"); }

    bool openWith(std::initializer_list<Value> values) { return ::openWith(link, values); }
    bool openServer() { return openWith({Value(static_cast<int>(port))}); }
    bool openClient() { return openWith({Value("127.0.0.1"), Value(static_cast<int>(port))}); }
    std::string prefix() const { return "tcp status tcp " + std::string(role) + " port " + std::to_string(port); }

    RecordingClient client;
    TCP link{&client};
    std::uint16_t port = freePort();
    const char* role = "server";
};

} // namespace

TEST_F(TcpLinkTest, ServerShowsEachStageAndAnAcceptErrorWhenClosedWaiting) {
    ASSERT_TRUE(openServer());
    ASSERT_TRUE(client.waitFor(" accepting connection"));
    EXPECT_TRUE(link.isOpen());
    EXPECT_FALSE(openServer()); // already open
    ASSERT_TRUE(link.close());
    EXPECT_FALSE(link.close());
    const Lines lines = client.all();
    const std::string p = prefix();
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 6),
              (Lines{p + " offline", p + " rx thread started offline", p + " creating listening socket offline",
                     p + " binding to listening socket offline", p + " listening on socket offline",
                     p + " accepting connection offline"}));
    EXPECT_EQ(lines.back().rfind(p + " Accept error ", 0), 0u) << lines.back();
    EXPECT_EQ(lines.back().substr(lines.back().size() - 8), " offline");
}

TEST_F(TcpLinkTest, OpenTakesOnlyItsTwoShapes) {
    EXPECT_FALSE(openWith({Value::raw(VT_I2)}));
    EXPECT_FALSE(openWith({Value(5000), Value("localhost")}));
    EXPECT_FALSE(openWith({Value("localhost"), Value(5000), Value(1)}));
    EXPECT_FALSE(openWith({}));
    EXPECT_FALSE(link.isOpen());
    EXPECT_FALSE(link.write(reinterpret_cast<const std::uint8_t*>("x"), 1));
    // Only the low 16 bits of a port count.
    ASSERT_TRUE(openWith({Value("localhost"), Value(70000)}));
    EXPECT_EQ(client.all().front(), "tcp status tcp client of localhost port 4464 offline");
}

TEST_F(TcpLinkTest, ClientRetriesUntilTheServerComesAndAgainAfterItHangsUp) {
    role = "client of 127.0.0.1";
    const Bytes early = bytesOf("early");
    ASSERT_TRUE(openClient());
    ASSERT_TRUE(client.waitFor(" Connection error ", 2)); // nobody listens yet: tried again
    EXPECT_TRUE(sendBytes(link, early));                // waits for the connection
    Peer server;
    server.listen(port);
    ASSERT_TRUE(server.accept());
    EXPECT_EQ(server.receive(5), "early");
    ASSERT_TRUE(client.waitFor("tcp tx \"early\""));
    EXPECT_TRUE(link.isOnline());
    server.send("hello");
    ASSERT_TRUE(client.waitFor("tcp rx \"hello\""));

    server.hangUp();
    ASSERT_TRUE(client.waitFor(prefix() + " disconnected offline"));
    ASSERT_TRUE(server.accept()); // the link connects again
    ASSERT_TRUE(client.waitFor(prefix() + " connected online", 2));
    link.close();
    const Lines lines = client.all();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "offline"), 2); // one per lost connection
    EXPECT_EQ(lines.back(), prefix() + " disconnected offline");
}

TEST_F(TcpLinkTest, ServerServesOneConnectionAfterAnother) {
    ASSERT_TRUE(openServer());
    for (int round = 1; round <= 2; ++round) {
        Peer peer;
        ASSERT_TRUE(client.waitFor(" accepting connection offline", round));
        ASSERT_TRUE(peer.connect(port));
        ASSERT_TRUE(client.waitFor(prefix() + " connected online", round)) << ::testing::PrintToString(client.all());
        EXPECT_TRUE(sendBytes(link, bytesOf("ping")));
        EXPECT_EQ(peer.receive(4), "ping");
        peer.send("pong");
        ASSERT_TRUE(client.waitFor("tcp rx \"pong\"", round));
        peer.hangUp();
        ASSERT_TRUE(client.waitFor(prefix() + " disconnected offline", round));
    }
    ASSERT_TRUE(client.waitFor(" listening on socket", 3)); // a new listening socket after each loss
}

TEST_F(TcpLinkTest, ClosingHangsUpAndDiscardsWhatWasNotSent) {
    ASSERT_TRUE(openServer());
    EXPECT_TRUE(sendBytes(link, bytesOf("stale"))); // nobody connected yet
    ASSERT_TRUE(link.close());
    EXPECT_FALSE(sendBytes(link, bytesOf("refused")));
    const int accepting = client.count(" accepting connection offline");
    ASSERT_TRUE(openServer());
    Peer peer;
    ASSERT_TRUE(client.waitFor(" accepting connection offline", accepting + 1));
    ASSERT_TRUE(peer.connect(port));
    ASSERT_TRUE(client.waitFor(" connected online"));
    EXPECT_TRUE(sendBytes(link, bytesOf("fresh")));
    EXPECT_EQ(peer.receive(5), "fresh");
    ASSERT_TRUE(client.waitFor("tcp tx \"fresh\""));
    ASSERT_TRUE(link.close());
    EXPECT_EQ(client.all().back(), prefix() + " disconnected offline");
    EXPECT_EQ(peer.receive(1), ""); // the link hung up
}

TEST_F(TcpLinkTest, OpeningAndClosingLeavesNothingBehind) {
    auto cycle = [&](bool connecting) {
        const int accepting = client.count(" accepting connection offline");
        const int connected = client.count(" connected online");
        ASSERT_TRUE(openServer());
        ASSERT_TRUE(client.waitFor(" accepting connection offline", accepting + 1));
        Peer peer;
        if (connecting) {
            ASSERT_TRUE(peer.connect(port));
            ASSERT_TRUE(client.waitFor(" connected online", connected + 1));
        }
        ASSERT_TRUE(link.close());
    };
    cycle(true);
    const std::size_t before = openHandleCount();
    for (int round = 0; round < 100 && !HasFatalFailure(); ++round) cycle(round % 2 == 0);
    EXPECT_EQ(openHandleCount(), before);
}

// A block larger than the socket takes at once, then a quick stream of
// small ones, written while the peer reads nothing: the bytes leave whole
// and in order, and each block is reported once, as it was written.
TEST_F(TcpLinkTest, BlocksLeaveInOrderAndAreEachReportedOnce) {
    Peer peer;
    ASSERT_TRUE(openServer());
    ASSERT_TRUE(client.waitFor(" accepting connection offline"));
    ASSERT_TRUE(peer.connect(port));
    ASSERT_TRUE(client.waitFor(" connected online"));
    client.lines();
    std::vector<Bytes> blocks{Bytes(std::size_t{1} << 20, 'L')};
    for (int i = 0; i < 200; ++i) blocks.push_back(Bytes(1000, static_cast<std::uint8_t>('a' + i % 26)));
    std::string expected;
    for (const Bytes& block : blocks) {
        ASSERT_TRUE(sendBytes(link, block));
        expected.append(block.begin(), block.end());
    }
    const std::string received = peer.receive(expected.size());
    ASSERT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected); // not EXPECT_EQ: megabytes of text on failure
    ASSERT_TRUE(client.waitFor(" tx ", static_cast<int>(blocks.size())));
    const Lines reports = client.lines();
    ASSERT_EQ(reports.size(), blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i)
        ASSERT_TRUE(reports[i] == "tcp tx " + show(blocks[i].data(), static_cast<std::uint32_t>(blocks[i].size()))) << i;
}

TEST_F(TcpLinkTest, ATakenPortGivesABindErrorAgainAndAgain) {
    Peer holder;
    holder.listen(port);
    ASSERT_TRUE(openServer());
    ASSERT_TRUE(client.waitFor(prefix() + " Bind error ", 2));
    EXPECT_TRUE(link.close());
}

TEST(TcpPacketLink, FramesTravelWholeBetweenTwoLinks) {
    const std::uint16_t port = freePort();
    RecordingClient serverSide;
    RecordingClient clientSide;
    auto server = SerialCreator::instance()->create(&serverSide, "tcppkt");
    auto client = SerialCreator::instance()->create(&clientSide, "TCPPKT");
    ASSERT_NE(dynamic_cast<PacketSerial*>(server.get()), nullptr);
    ASSERT_NE(dynamic_cast<PacketSerial*>(client.get()), nullptr);
    EXPECT_NE(dynamic_cast<TCP*>(SerialCreator::instance()->create(&serverSide, "Tcp").get()), nullptr);
    serverSide.name(server.get(), "server");
    clientSide.name(client.get(), "client");
    const Value portValue(static_cast<int>(port));
    const Value host("127.0.0.1");
    const VARIANT clientParameters[] = {host.get(), portValue.get()};
    ASSERT_TRUE(server->open(1, &portValue.get()));
    ASSERT_TRUE(client->open(2, clientParameters));
    EXPECT_TRUE(sendBytes(*client, bytesOf("first")));
    EXPECT_TRUE(sendBytes(*client, Bytes(5000, 'x'))); // more than one receive
    ASSERT_TRUE(serverSide.waitFor("server rx", 2));
    EXPECT_EQ(serverSide.received(), (std::vector<Bytes>{bytesOf("first"), Bytes(5000, 'x')}));
    EXPECT_TRUE(clientSide.waitFor("client tx \"first\""));
    EXPECT_TRUE(sendBytes(*server, bytesOf("answer")));
    ASSERT_TRUE(clientSide.waitFor("client rx \"answer\""));
    EXPECT_TRUE(serverSide.waitFor("server tx \"answer\""));
    EXPECT_TRUE(client->close());
    EXPECT_TRUE(server->close());
}

TEST(TcpPacketLink, PayloadReportedWhenTheFrameLeavesInPieces) {
    RecordingClient client;
    ScriptedLink* inner = nullptr;
    PacketSerial packet(&client, [&inner](ISerialClient* innerClient) {
        auto link = std::make_unique<ScriptedLink>(innerClient);
        inner = link.get();
        return link;
    });
    client.name(&packet, "packet");
    const Bytes stream = concat({withLength(bytesOf("ABC")), withLength(bytesOf("")), withLength(bytesOf("DE"))});
    // Pieces cut inside the length field, at the payload's start and across frames.
    std::size_t from = 0;
    for (const std::size_t cut : {2u, 5u, 6u, 9u, 12u, 13u, 17u}) {
        packet.onDataTransmitted(inner, stream.data() + from, static_cast<std::uint32_t>(cut - from));
        from = cut;
    }
    EXPECT_EQ(client.lines(),
              (Lines{"packet tx \"A\"", "packet tx \"B\"", "packet tx \"C\"", "packet tx \"\"", "packet tx \"DE\""}));
    // A frame cut short by a lost connection: the next connection starts afresh.
    packet.onDataTransmitted(inner, stream.data(), 5);
    inner->setOnline(true);
    packet.onDataTransmitted(inner, stream.data() + 11, 6);
    Lines sent = client.lines();
    std::erase_if(sent, [](const std::string& line) { return line.find(" tx ") == std::string::npos; });
    EXPECT_EQ(sent, (Lines{"packet tx \"A\"", "packet tx \"DE\""}));
}
