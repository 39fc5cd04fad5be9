// The RS-232 link and the system's serial port over a pseudo-terminal pair:
// open, configure, write and read on real devices. Wine's ports cannot wait
// for line events on a pseudo-terminal (WaitCommEvent reports "not
// supported"), so there the link's reader never reads: the Windows build
// checks what the link writes by reading the other end through the port
// seam, and skips the tests that need the link's reader.
#include "links/RS232.h"
#include "platform/serial_port.h"

#include "../support/OpenHandles.h"
#include "PtyPair.h"
#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

// Reads the far end through the port seam until `length` bytes came or patience ran out.
std::string readFarEnd(platform::SerialPort& port, std::size_t length) {
    GiveUp giveUp;
    std::string text;
    std::uint8_t buffer[256];
    while (text.size() < length) {
        const platform::PortOutcome got = port.read(buffer, sizeof buffer, giveUp.signal());
        if (got.state == platform::PortOutcome::State::Stopped) break;
        text.append(buffer, buffer + got.bytes);
    }
    return text;
}

class RS232Pty : public ::testing::Test {
protected:
    void SetUp() override {
        if (!pair.problem().empty()) GTEST_SKIP() << pair.problem();
    }

    bool open(int port, std::vector<Value> more = {9600}) {
        more.insert(more.begin(), Value(port));
        return openWith(link, more);
    }

    PtyPair pair;
    RecordingClient client;
    RS232 link{&client};
    const int first = static_cast<int>(pair.first);
};

} // namespace

TEST_F(RS232Pty, LinkWritesWhatTheFarEndReads) {
    client.name(&link, "a");
    ASSERT_TRUE(open(first));
    const std::string name = "rs232 com" + std::to_string(first) + ",9600,None";
    EXPECT_EQ(link.getStatus(), name + " online");
    const auto farEnd = platform::makeSystemSerialPort();
    ASSERT_TRUE(farEnd->open(pair.second, {9600, platform::FlowControl::None}));
    EXPECT_TRUE(sendBytes(link, bytesOf("hello ")));
    EXPECT_TRUE(sendBytes(link, bytesOf("there")));
    EXPECT_EQ(readFarEnd(*farEnd, 11), "hello there");
    ASSERT_TRUE(client.waitFor("a tx \"there\""));
    EXPECT_TRUE(link.close());
    EXPECT_EQ(client.all().back(), "a status " + name + " offline");
}

TEST_F(RS232Pty, PortsWithoutADeviceDoNotOpen) {
    EXPECT_FALSE(open(250));
    EXPECT_FALSE(link.isOpen());
#ifndef _WIN32
    // A file that is no terminal opens but cannot be configured.
    std::ofstream(pair.end(250)) << "plain";
    EXPECT_FALSE(open(250));
    // A rate that termios has no constant for.
    EXPECT_FALSE(open(first, {12345}));
    EXPECT_TRUE(open(first, {115200, "Software"}));
#endif
}

TEST_F(RS232Pty, OpenAndCloseLeaveNoHandleBehind) {
    ASSERT_TRUE(open(first));
    EXPECT_TRUE(link.close());
    const std::size_t before = openHandleCount();
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(open(first, {9600, "CTS"}));
        EXPECT_TRUE(link.close());
    }
    EXPECT_EQ(openHandleCount(), before);
}
