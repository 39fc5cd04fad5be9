// The RS-232 link's own logic over a scripted port: the open parameters and
// the name, the order of line events and the reads that follow RXCHAR only,
// and a device that fails every call.
#include "links/RS232.h"

#include "../support/ScriptedSerialPort.h"
#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

namespace Ev = platform::LineEvent;
using Calls = std::vector<std::string>;

struct ScriptedRs232 {
    std::shared_ptr<PortScript> script = std::make_shared<PortScript>();
    RecordingClient client;
    RS232 link{&client, std::make_unique<ScriptedSerialPort>(script)};

    bool open(const std::vector<Value>& parameters) { return openWith(link, parameters); }
    // Opens port 3 at 9600 and forgets what that reported and called.
    void opened() {
        ASSERT_TRUE(open({3, 9600}));
        client.lines();
        script->takeCalls();
    }
};

} // namespace

TEST(RS232Link, OpenParametersGiveTheNameAndFlowControl) {
    using platform::FlowControl;
    const std::tuple<Value, std::string, FlowControl> rows[] = {
        {"cts", "cts", FlowControl::Cts},
        {"Cts+Dtr", "Cts+Dtr", FlowControl::CtsDtr},
        {"CTS+DSR", "None", FlowControl::None},
        {Value::raw(VT_BSTR), "None", FlowControl::None}, // a null string
        {7, "None", FlowControl::None},
    };
    for (const auto& [third, name, flowControl] : rows) {
        ScriptedRs232 rs;
        ASSERT_TRUE(rs.open({1, 115200, third, "ignored"})) << name;
        EXPECT_EQ(rs.link.getStatus(), "rs232 com1,115200," + name + " online");
        EXPECT_EQ(rs.script->takeCalls().at(0), "open 1 115200 flow " + std::to_string(static_cast<int>(flowControl)));
    }
    // Parameters of the wrong shape change nothing and call nothing.
    ScriptedRs232 rs;
    for (const std::vector<Value>& parameters : {std::vector<Value>{3}, {3, Value::raw(VT_I2)}, {3, 9600.0}, {"3", 9600}, {}})
        EXPECT_FALSE(rs.open(parameters));
    EXPECT_TRUE(rs.link.close()); // closed already: true, and no report
    EXPECT_TRUE(rs.client.lines().empty());
    EXPECT_EQ(rs.link.getStatus(), "unknown offline");
    EXPECT_TRUE(rs.script->takeCalls().empty());
}

TEST(RS232Link, LineEventsInFixedOrderWithTheReadAfterRxChar) {
    ScriptedRs232 rs;
    rs.opened();
    // Bytes are there, but without RXCHAR nothing reads them.
    rs.script->arrive(Ev::Cts, "early");
    rs.script->arrive(Ev::Cts | Ev::RxChar, "abc");
    ASSERT_TRUE(rs.client.waitFor("rx"));
    EXPECT_EQ(rs.client.lines(), (Lines{"event 1", "event 1", "event 6", "rx \"earlyabc\""}));
    EXPECT_EQ(rs.script->takeCalls(), Calls{"read"});

    rs.script->arrive(Ev::All);
    ASSERT_TRUE(rs.client.waitFor("event 6", 2));
    EXPECT_EQ(rs.client.lines(), (Lines{"event 0", "event 1", "event 2", "event 3", "event 4", "event 5",
                                        "event 7", "event 8", "event 6"}));
}

// Empty writes are not made; a failed write is dropped unreported; open on
// an open link keeps the port but takes the name.
TEST(RS232Link, WritesInOrderEmptyOnesNotAndOpenWhileOpen) {
    ScriptedRs232 rs;
    rs.opened();
    rs.script->writes = false;
    EXPECT_TRUE(sendBytes(rs.link, {}));
    EXPECT_TRUE(sendBytes(rs.link, bytesOf("lost")));
    ASSERT_TRUE(rs.script->waitForCall("write lost"));
    rs.script->writes = true;
    EXPECT_TRUE(sendBytes(rs.link, bytesOf("one")));
    EXPECT_TRUE(sendBytes(rs.link, bytesOf("two")));
    ASSERT_TRUE(rs.client.waitFor("tx \"two\""));
    EXPECT_EQ(rs.client.lines(), (Lines{"tx \"one\"", "tx \"two\""}));
    EXPECT_EQ(rs.script->takeCalls(), (Calls{"write lost", "write one", "write two"}));

    EXPECT_FALSE(rs.open({5, 19200, "CTS"}));
    EXPECT_EQ(rs.client.lines(), (Lines{"status rs232 com5,19200,CTS online"}));
    EXPECT_TRUE(rs.script->takeCalls().empty());
}

TEST(RS232Link, RemovedDeviceStaysOnlineUntilCloseWhichEndsIt) {
    ScriptedRs232 rs;
    ASSERT_TRUE(rs.open({3, 9600}));
    rs.script->removed = true;
    const long waitsBefore = rs.script->waits;
    EXPECT_TRUE(sendBytes(rs.link, bytesOf("gone")));
    // The reader goes on trying; give it a few failed waits.
    const platform::StopSignal idle;
    for (int i = 0; i < 5000 && rs.script->waits < waitsBefore + 3; ++i) idle.waitFor(std::chrono::milliseconds(1));
    EXPECT_GE(rs.script->waits, waitsBefore + 3);
    EXPECT_TRUE(rs.link.isOnline());
    EXPECT_TRUE(rs.link.close());
    EXPECT_FALSE(rs.link.isOnline());
    EXPECT_EQ(rs.client.count("tx"), 0);
    rs.script->removed = false;
}
