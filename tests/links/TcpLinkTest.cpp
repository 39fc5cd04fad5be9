// The TCP link against peers on 127.0.0.1.
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

TEST_F(TcpLinkTest, ClientRetriesUntilTheServerComesAndAfterItHangsUp) {
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
