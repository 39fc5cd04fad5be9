// The process link against real child interpreters: commands run, the close
// sequence and its reports, a child that exits by itself, and no descriptor
// or handle left behind after many open/close cycles.
#include "LinkTestSupport.h"
#include "links/ProcessPipe.h"

#include <gtest/gtest.h>

#include "../support/OpenHandles.h"

#include <chrono>

namespace {

using namespace std::chrono_literals;
constexpr auto eventLimit = 20s; // generous: a child interpreter starts slowly under Wine

constexpr auto exitReport = "? tx 657869740a"; // "exit\n" as transmitted

// A command that says "busy-now", then keeps the child busy, neither
// reading its input nor writing, for longer than any test waits.
#ifdef _WIN32
constexpr std::string_view busyCommand = "echo busy-now& ping -n 60 127.0.0.1 >nul\r\n";
constexpr std::string_view busyNotice = "busy-now\r\n";
#else
constexpr std::string_view busyCommand = "echo busy-now; sleep 60\n";
constexpr std::string_view busyNotice = "busy-now\n";
#endif

// A command whose output is not its own text (cmd echoes each line it reads).
#ifdef _WIN32
constexpr std::string_view answerCommand = "set /a 6*7\r\n";
#else
constexpr std::string_view answerCommand = "echo $((6*7))\n";
#endif

// A recording client that waits as long as a child interpreter may need.
class WaitingClient : public RecordingClient {
public:
    bool waitForReceived(std::string_view text) { return RecordingClient::waitForReceived(text, eventLimit); }
    bool waitForLine(const std::string& line) { return waitFor(line, 1, eventLimit); }
};

bool sendText(ISerial& link, std::string_view text) {
    return link.send(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<std::uint32_t>(text.size()));
}

TEST(ProcessPipe, CloseSendsExitThenGoesOffline) {
    WaitingClient client;
    ProcessPipe link(&client);
    ASSERT_TRUE(link.open(0, nullptr));
    ASSERT_TRUE(client.waitForLine("? status Process online"));
    EXPECT_FALSE(link.open(0, nullptr));
    client.lines();
    ASSERT_TRUE(link.close());
    Lines reports = client.lines();
    std::erase_if(reports, [](const std::string& line) { return line.find(" rx ") != std::string::npos; }); // prompts
    EXPECT_EQ(reports, (Lines{exitReport, "offline", "? status Process offline"}));
    EXPECT_FALSE(link.close());
    EXPECT_FALSE(sendText(link, "echo late\n"));
    EXPECT_FALSE(link.isOpen());
}

TEST(ProcessPipe, StaysUsableAfterTheChildExitsByItselfAndReopens) {
    WaitingClient client;
    ProcessPipe link(&client);
    ASSERT_TRUE(link.open(0, nullptr));
    ASSERT_TRUE(sendText(link, "exit\n"));
    ASSERT_TRUE(client.waitForLine(exitReport));
    // Nothing reads any more; sending is still accepted and the link closes as usual.
    EXPECT_TRUE(sendText(link, "echo nobody\n"));
    EXPECT_TRUE(link.isOpen());
    EXPECT_TRUE(link.close());
    EXPECT_TRUE(client.waitForLine("? status Process offline"));

    ASSERT_TRUE(link.open(0, nullptr));
    ASSERT_TRUE(sendText(link, answerCommand));
    EXPECT_TRUE(client.waitForReceived("42"));
    // Errors come back on the same pipe as output.
    ASSERT_TRUE(sendText(link, "nosuchcommand_xyz\n"));
    EXPECT_TRUE(client.waitForReceived("nosuchcommand_xyz"));
    EXPECT_TRUE(link.close());
}

// The child cannot read "exit" while busy: close ends it rather than
// waiting for the command.
TEST(ProcessPipe, ClosesWhileTheChildIsBusy) {
    WaitingClient client;
    ProcessPipe link(&client);
    ASSERT_TRUE(link.open(0, nullptr));
    ASSERT_TRUE(sendText(link, busyCommand));
    ASSERT_TRUE(client.waitForReceived(busyNotice));
    EXPECT_TRUE(link.close());
    EXPECT_TRUE(client.waitForLine("? status Process offline"));
    ASSERT_TRUE(link.open(0, nullptr));
    ASSERT_TRUE(sendText(link, answerCommand));
    EXPECT_TRUE(client.waitForReceived("42"));
}

TEST(ProcessPipe, ManyOpenCloseCyclesLeaveNoHandleBehind) {
    WaitingClient client;
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
