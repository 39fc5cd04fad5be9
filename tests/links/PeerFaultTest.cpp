// A TCP peer in a real child process, killed mid-transfer while bytes flow
// both ways: the link sees it go, the process lives on (no broken-pipe
// signal), and the next peer is taken, with the link as server and as client.
#include "links/TCP.h"
#include "platform/child_process.h"
#include "platform/library.h"

#include "SocketLinkSupport.h"

#include <gtest/gtest.h>

namespace {

#ifdef _WIN32
constexpr const char* peerProgram = "tcp_peer.exe";
// Under Wine the sockets of a terminated process stay open in the Wine
// server while one of its reads is pending, so the far end never sees the
// connection go; a Windows build is tested under Wine only.
constexpr bool killedPeersCloseTheirSockets = false;
#else
constexpr const char* peerProgram = "tcp_peer";
constexpr bool killedPeersCloseTheirSockets = true;
#endif

// The peer program (tests/links/tcp_peer.cpp, beside this one), run by the
// system's command interpreter, so that terminate() ends it with the child.
void startPeer(platform::ChildProcess& child, const char* role, std::uint16_t port) {
    std::error_code error;
    ASSERT_TRUE(child.start(error)) << error.message();
    std::string command = "\"";
    command += (platform::executableDirectory() / peerProgram).string();
    command += "\" ";
    command += role;
    command += ' ';
    command += std::to_string(port);
    command += '\n';
    ASSERT_TRUE(child.write(reinterpret_cast<const std::uint8_t*>(command.data()), command.size()));
}

struct Role {
    const char* name;
    const char* peerRole; // what the peer program is told to be
    bool linkServes;
};

class PeerKilled : public ::testing::TestWithParam<Role> {};

TEST_P(PeerKilled, MidTransferTheLinkGoesOfflineAndTakesTheNextPeer) {
    if (!killedPeersCloseTheirSockets) GTEST_SKIP() << "a killed peer's connection does not end under Wine";
    RecordingClient client;
    TCP link{&client};
    client.name(&link, "tcp");
    const std::uint16_t port = freePort();
    ASSERT_TRUE(GetParam().linkServes ? openWith(link, {Value(int{port})})
                                      : openWith(link, {Value("127.0.0.1"), Value(int{port})}));
    const Bytes ours(4 << 20, 'o');
    for (int peer = 1; peer <= 2; ++peer) {
        SCOPED_TRACE("peer " + std::to_string(peer));
        platform::ChildProcess child;
        startPeer(child, GetParam().peerRole, port);
        ASSERT_TRUE(client.waitUntil([&] { return link.isOnline(); })) << "the peer did not connect";
        ASSERT_TRUE(client.waitFor(" rx ", client.count(" rx ") + 20)) << "the peer's bytes did not come";
        ASSERT_TRUE(link.send(ours.data(), static_cast<std::uint32_t>(ours.size())));
        child.terminate();
        ASSERT_TRUE(client.waitUntil([&] { return !link.isOnline(); })) << "the link did not see its peer go";
        link.send(ours.data(), 1024); // towards a peer that has gone
    }
    EXPECT_TRUE(link.close());
}

INSTANTIATE_TEST_SUITE_P(Link, PeerKilled,
                         ::testing::Values(Role{"Server", "connect", true}, Role{"Client", "serve", false}),
                         [](const ::testing::TestParamInfo<Role>& tested) { return std::string(tested.param.name); });

} // namespace
