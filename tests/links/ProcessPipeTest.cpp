// The process link against real child interpreters: a child that exits by
// itself or is busy at close, and no handle left behind by open/close cycles.
#include "LinkTestSupport.h"
#include "links/ProcessPipe.h"

#include <gtest/gtest.h>

#include "../support/OpenHandles.h"

#include <chrono>

namespace {

using namespace std::chrono_literals;
constexpr auto eventLimit = 20s; // generous: a child interpreter starts slowly under Wine

// A command that says "busy-now", then keeps the child busy, neither
// reading its input nor writing, for longer than any test waits. The notice
// is its output, not the command's own text, which cmd echoes.
#ifdef _WIN32
constexpr std::string_view busyCommand = "echo busy-now& ping -n 60 127.0.0.1 >nul\r\n";
constexpr std::string_view busyNotice = "busy-now\r\n";
#else
constexpr std::string_view busyCommand = "echo busy-now; sleep 60\n";
constexpr std::string_view busyNotice = "busy-now\n";
#endif

// A child that exited by itself, and one too busy to read "exit": close
// ends either rather than waiting, and the link opens again.
TEST(ProcessPipe, ClosesAfterTheChildExitedOrWhileItIsBusy) {
    RecordingClient client;
    ProcessPipe link(&client);
    ASSERT_TRUE(link.open(0, nullptr));
    EXPECT_FALSE(link.open(0, nullptr));
    ASSERT_TRUE(sendBytes(link, bytesOf("exit\n")));
    ASSERT_TRUE(client.waitFor("tx 657869740a", 1, eventLimit)); // "exit\n" as transmitted
    EXPECT_TRUE(sendBytes(link, bytesOf("echo nobody\n"))); // nothing reads any more, but sending is accepted
    EXPECT_TRUE(link.close());
    ASSERT_TRUE(link.open(0, nullptr));
    ASSERT_TRUE(sendBytes(link, bytesOf(busyCommand)));
    ASSERT_TRUE(client.waitForReceived(busyNotice, eventLimit));
    EXPECT_TRUE(link.close());
    EXPECT_TRUE(client.waitFor("status Process offline", 2, eventLimit));

    ASSERT_TRUE(link.open(0, nullptr));
    ASSERT_TRUE(sendBytes(link, bytesOf("nosuchcommand_xyz\n"))); // errors come back on the same pipe
    EXPECT_TRUE(client.waitForReceived("nosuchcommand_xyz", eventLimit));
    EXPECT_TRUE(link.close());
    EXPECT_FALSE(link.close());
    EXPECT_FALSE(sendBytes(link, bytesOf("echo late\n")));
}

TEST(ProcessPipe, ManyOpenCloseCyclesLeaveNoHandleBehind) {
    RecordingClient client;
    ProcessPipe link(&client);
    ASSERT_TRUE(link.open(0, nullptr)); // the first cycle makes what the process keeps for good
    ASSERT_TRUE(link.close());
    const std::size_t before = openHandleCount();
    for (int cycle = 0; cycle < 100; ++cycle) {
        ASSERT_TRUE(link.open(0, nullptr)) << "cycle " << cycle;
        ASSERT_TRUE(link.close()) << "cycle " << cycle;
    }
    EXPECT_EQ(openHandleCount(), before);
}

} // namespace
