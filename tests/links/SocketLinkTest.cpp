// The socket links against peers on 127.0.0.1: the far end driven by the
// test through the sockets seam, or a TCP peer in a child process of its
// own (tcp_peer), killed mid-transfer.
#include "SocketLinkSupport.h"
#include "links/TCP.h"
#include "links/UDP.h"
#include "platform/child_process.h"
#include "platform/library.h"

#include "../support/OpenHandles.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class TcpLinkTest : public ::testing::Test {
protected:
    bool openServer() { return openWith(link, {Value(static_cast<int>(port))}); }
    std::string prefix() const { return "status tcp " + std::string(role) + " port " + std::to_string(port); }
    // Opens the link as a server and, given a peer, connects it.
    void serve(Peer* peer = nullptr) {
        const int accepting = client.count(" accepting connection offline");
        const int connected = client.count(" connected online");
        ASSERT_TRUE(openServer());
        ASSERT_TRUE(client.waitFor(" accepting connection offline", accepting + 1));
        if (!peer) return;
        ASSERT_TRUE(peer->connect(port));
        ASSERT_TRUE(client.waitFor(" connected online", connected + 1));
    }

    RecordingClient client;
    TCP link{&client};
    std::uint16_t port = freePort();
    const char* role = "server";
};

} // namespace

TEST_F(TcpLinkTest, ServerShowsEachStageAndAnAcceptErrorWhenClosedWaiting) {
    ASSERT_TRUE(openServer());
    ASSERT_TRUE(client.waitFor(" accepting connection"));
    EXPECT_FALSE(openServer()); // already open
    ASSERT_TRUE(link.close());
    EXPECT_FALSE(link.close());
    const Lines lines = client.lines();
    const std::string p = prefix();
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 6),
              (Lines{p + " offline", p + " rx thread started offline", p + " creating listening socket offline",
                     p + " binding to listening socket offline", p + " listening on socket offline",
                     p + " accepting connection offline"}));
    EXPECT_TRUE(lines.back().starts_with(p + " Accept error ") && lines.back().ends_with(" offline")) << lines.back();
}

// Each wrong shape fails a different check; only the low 16 bits of a port count.
TEST(SocketLinks, OpenTakesOnlyItsShapes) {
    const std::pair<const char*, std::vector<Value>> refused[] = {
        {"tcp", {Value::raw(VT_I2)}}, {"tcp", {5000, "localhost"}}, {"tcp", {"localhost", 5000, 1}},
        {"udp", {}}, {"udp", {"host"}}, {"udp", {5000, 6000}}, {"udp", {5000, "host", Value::raw(VT_I2)}},
        {"udp", {5000, "host", 6000, 1}}};
    RecordingClient client;
    for (const auto& [kind, parameters] : refused)
        EXPECT_FALSE(openWith(*SerialCreator::instance()->create(&client, kind), parameters)) << kind << parameters.size();
    EXPECT_TRUE(client.lines().empty());
    const auto tcp = SerialCreator::instance()->create(&client, "tcp");
    ASSERT_TRUE(openWith(*tcp, {"localhost", 70000}));
    EXPECT_EQ(client.lines().front(), "status tcp client of localhost port 4464 offline");
    UDP udp(&client);
    ASSERT_TRUE(openWith(udp, {70000, ""}));
    EXPECT_TRUE(client.waitFor("status udp 4464 offline"));
}

TEST_F(TcpLinkTest, ClientRetriesUntilTheServerComesAndAfterItHangsUp) {
    role = "client of 127.0.0.1";
    ASSERT_TRUE(openWith(link, {Value("127.0.0.1"), Value(static_cast<int>(port))}));
    ASSERT_TRUE(client.waitFor(" Connection error ", 2)); // nobody listens yet: tried again
    EXPECT_TRUE(sendBytes(link, bytesOf("early")));     // waits for the connection
    Peer server;
    server.listen(port);
    ASSERT_TRUE(server.accept());
    EXPECT_EQ(server.receive(5), "early");
    ASSERT_TRUE(client.waitFor("tx \"early\""));
    EXPECT_TRUE(link.isOnline());
    server.hangUp();
    ASSERT_TRUE(client.waitFor(prefix() + " disconnected offline"));
    ASSERT_TRUE(server.accept()); // the link connects again
    ASSERT_TRUE(client.waitFor(prefix() + " connected online", 2));
    link.close();
    const Lines lines = client.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "offline"), 2); // one per lost connection
}

// TCP with and without a connection, and UDP.
TEST_F(TcpLinkTest, OpeningAndClosingLeavesNothingBehind) {
    UDP udp(nullptr);
    const auto cycle = [&](bool connecting) {
        Peer peer;
        serve(connecting ? &peer : nullptr);
        ASSERT_TRUE(link.close());
        ASSERT_TRUE(openWith(udp, {Value(70000), Value("")}));
        ASSERT_TRUE(udp.close());
    };
    cycle(true);
    const std::size_t before = openHandleCount();
    for (int round = 0; round < 100 && !HasFatalFailure(); ++round) cycle(round % 2 == 0);
    EXPECT_EQ(openHandleCount(), before);
}

// What was sent before anyone connected is discarded by close. Then a block
// larger than the socket takes at once and a quick stream of small ones,
// written while the peer reads nothing: the bytes leave whole and in order,
// each block is reported once, and close hangs up.
TEST_F(TcpLinkTest, BlocksLeaveInOrderAndAreEachReportedOnce) {
    ASSERT_TRUE(openServer());
    EXPECT_TRUE(sendBytes(link, bytesOf("stale"))); // nobody connected yet
    ASSERT_TRUE(link.close());
    EXPECT_FALSE(sendBytes(link, bytesOf("refused")));
    Peer peer;
    serve(&peer);
    client.lines();
    std::vector<Bytes> blocks{Bytes(std::size_t{1} << 20, 'L')};
    for (int i = 0; i < 1500; ++i) blocks.push_back(Bytes(1000, static_cast<std::uint8_t>('a' + i % 26)));
    std::string expected;
    for (const Bytes& block : blocks) {
        ASSERT_TRUE(sendBytes(link, block));
        expected.append(block.begin(), block.end());
    }
    const std::string received = peer.receive(expected.size());
    ASSERT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected); // not EXPECT_EQ: megabytes of text on failure
    ASSERT_TRUE(client.waitFor("tx ", static_cast<int>(blocks.size())));
    const Lines reports = client.lines();
    ASSERT_EQ(reports.size(), blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i)
        ASSERT_TRUE(reports[i] == "tx " + show(blocks[i].data(), static_cast<std::uint32_t>(blocks[i].size()))) << i;
    ASSERT_TRUE(link.close());
    EXPECT_EQ(client.lines().back(), prefix() + " disconnected offline");
    EXPECT_EQ(peer.receive(1), ""); // the link hung up
}

TEST_F(TcpLinkTest, ATakenPortGivesABindErrorAgainAndAgain) {
    Peer holder;
    holder.listen(port);
    ASSERT_TRUE(openServer());
    ASSERT_TRUE(client.waitFor(prefix() + " Bind error ", 2));
    EXPECT_TRUE(link.close());
}

// UDP: datagrams to itself, one block each; an empty one is sent but not delivered.
TEST(UdpLink, ReceivesItsOwnDatagramsOneBlockEach) {
    RecordingClient client;
    UDP link(&client);
    const int port = freePort();
    ASSERT_TRUE(openWith(link, {Value(port)}));
    const std::string name = "status udp " + std::to_string(port) + " <--> localhost:" + std::to_string(port);
    EXPECT_EQ(client.lines(), (Lines{name + " offline", "online", name + " online"}));
    // Blocks written before the reader has bound its socket are dropped:
    // probes, each its own text, go until one comes back.
    bool bound = false;
    for (int tries = 0; tries < 200 && !bound; ++tries) {
        const std::string probe = "probe" + std::to_string(tries);
        sendBytes(link, bytesOf(probe));
        bound = client.waitFor("rx \"" + probe + "\"", 1, std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(bound);
    client.received();
    EXPECT_TRUE(sendBytes(link, bytesOf("abc")));
    EXPECT_TRUE(sendBytes(link, {}));
    EXPECT_TRUE(sendBytes(link, bytesOf("defgh")));
    ASSERT_TRUE(client.waitFor("rx \"defgh\""));
    EXPECT_EQ(client.received(), (std::vector<Bytes>{bytesOf("abc"), bytesOf("defgh")}));
    EXPECT_TRUE(client.waitFor("tx \"defgh\""));
    EXPECT_EQ(client.count("tx \"abc\""), 1);
    ASSERT_TRUE(link.close());
    EXPECT_FALSE(link.isOnline());
}

// A peer killed mid-transfer while bytes flow both ways: the link sees it
// go, the process lives on (no broken-pipe signal), and the next peer is
// taken, with the link as server and as client. Under Wine the sockets of a
// terminated process stay open in the Wine server while one of its reads is
// pending, so the far end never sees the connection go.
TEST(PeerKilled, MidTransferTheLinkGoesOfflineAndTakesTheNextPeer) {
#ifdef _WIN32
    GTEST_SKIP() << "a killed peer's connection does not end under Wine";
#endif
    for (const bool linkServes : {true, false}) {
        SCOPED_TRACE(linkServes ? "the link serves" : "the link connects");
        RecordingClient client;
        TCP link{&client};
        const std::uint16_t port = freePort();
        ASSERT_TRUE(linkServes ? openWith(link, {Value(int{port})}) : openWith(link, {Value("127.0.0.1"), Value(int{port})}));
        const Bytes ours(4 << 20, 'o');
        for (int peer = 1; peer <= 2; ++peer) {
            SCOPED_TRACE("peer " + std::to_string(peer));
            // Run by the system's command interpreter, so that terminate() ends it with the child.
            platform::ChildProcess child;
            std::error_code error;
            ASSERT_TRUE(child.start(error)) << error.message();
            const std::string command = '"' + (platform::executableDirectory() / "tcp_peer").string() + "\" " +
                                        (linkServes ? "connect " : "serve ") + std::to_string(port) + '\n';
            ASSERT_TRUE(child.write(reinterpret_cast<const std::uint8_t*>(command.data()), command.size()));
            ASSERT_TRUE(client.waitUntil([&] { return link.isOnline(); })) << "the peer did not connect";
            ASSERT_TRUE(client.waitFor("rx \"", client.count("rx \"") + 20)) << "the peer's bytes did not come";
            ASSERT_TRUE(sendBytes(link, ours));
            child.terminate();
            ASSERT_TRUE(client.waitUntil([&] { return !link.isOnline(); })) << "the link did not see its peer go";
            link.send(ours.data(), 1024); // towards a peer that has gone
        }
        EXPECT_TRUE(link.close());
    }
}
