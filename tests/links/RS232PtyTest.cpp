// The RS-232 link and the system's serial port over a pseudo-terminal pair:
// open, configure, write and read on real devices. Wine's ports cannot wait
// for line events on a pseudo-terminal (WaitCommEvent reports "not
// supported"), so there the link's reader never reads: the Windows build
// checks what the link writes by reading the other end through the port
// seam, and skips the tests that need the link's reader.
#include "links/RS232.h"
#include "platform/serial_port.h"

#include "../support/OpenHandles.h"
#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#ifndef _WIN32
#include <filesystem>
#include <unistd.h>
#endif

namespace {

// Ports `first` and `second` joined by pty-pair.sh's pseudo-terminal pair.
// Linux: each test starts it in a folder of its own, the link's device
// pattern pointing there. Under Wine the CTest fixture has already linked
// COM<first> and COM<second> to its ends, as VARNEL_TEST_COM_PAIR says.
class RS232Pty : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef _WIN32
        const char* pair = std::getenv("VARNEL_TEST_COM_PAIR");
        if (!pair || std::sscanf(pair, "%d,%d", &first, &second) != 2) GTEST_SKIP() << "VARNEL_TEST_COM_PAIR is not set";
#else
        char made[] = "/tmp/varnel-pty-XXXXXX";
        if (!mkdtemp(made)) GTEST_SKIP() << "cannot make a folder for the pair";
        folder = made;
        if (std::system(script("start").c_str()) != 0) GTEST_SKIP() << "pty-pair.sh could not start socat";
        setenv("VARNEL_SERIAL_DEVICE_PATTERN", (folder + "/tty%d").c_str(), 1);
#endif
    }
#ifndef _WIN32
    void TearDown() override {
        link.close();
        if (folder.empty()) return;
        [[maybe_unused]] const int stopped = std::system(script("stop").c_str());
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::string script(const char* action) const {
        return "sh '" VARNEL_PTY_PAIR_SCRIPT "' " + std::string(action) + " '" + folder + "' " + std::to_string(first) +
               ' ' + std::to_string(second) + " >/dev/null";
    }
    std::string folder;
#endif

    bool open(int port, std::vector<Value> more = {9600}) {
        more.insert(more.begin(), Value(port));
        return openWith(link, more);
    }

    int first = 1;
    int second = 2;
    RecordingClient client;
    RS232 link{&client};
};

} // namespace

TEST_F(RS232Pty, LinkWritesWhatTheFarEndReads) {
    ASSERT_TRUE(open(first));
    const std::string name = "rs232 com" + std::to_string(first) + ",9600,None";
    EXPECT_EQ(link.getStatus(), name + " online");
    const auto farEnd = platform::makeSystemSerialPort();
    ASSERT_TRUE(farEnd->open(static_cast<std::uint32_t>(second), {9600, platform::FlowControl::None}));
    EXPECT_TRUE(sendBytes(link, bytesOf("hello ")));
    EXPECT_TRUE(sendBytes(link, bytesOf("there")));
    GiveUp giveUp;
    std::string text;
    std::uint8_t buffer[256];
    while (text.size() < 11) {
        const platform::PortOutcome got = farEnd->read(buffer, sizeof buffer, giveUp.signal());
        if (got.state == platform::PortOutcome::State::Stopped) break;
        text.append(buffer, buffer + got.bytes);
    }
    EXPECT_EQ(text, "hello there");
    ASSERT_TRUE(client.waitFor("tx \"there\""));
    EXPECT_TRUE(link.close());
    EXPECT_EQ(client.lines().back(), "status " + name + " offline");
}

TEST_F(RS232Pty, PortsWithoutADeviceDoNotOpen) {
    EXPECT_FALSE(open(250));
    EXPECT_FALSE(link.isOpen());
#ifndef _WIN32
    // A file that is no terminal opens but cannot be configured.
    std::ofstream(folder + "/tty250") << "plain";
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
