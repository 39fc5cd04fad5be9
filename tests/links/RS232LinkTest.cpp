// The RS-232 link's own logic over a scripted port: the open parameters and
// the name, the order of line events and the reads that follow RXCHAR only,
// configuration failures, and a device that fails every call.
// Packet framing over it is the wrapper's own (PacketSerialTest).
#include "links/RS232.h"

#include "../support/ScriptedSerialPort.h"
#include "LinkTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

namespace Ev = platform::LineEvent;

struct ScriptedRs232 {
    std::shared_ptr<PortScript> script = std::make_shared<PortScript>();
    RecordingClient client;
    RS232 link{&client, std::make_unique<ScriptedSerialPort>(script)};

    ScriptedRs232() { client.name(&link, "rs"); }
    bool open(const std::vector<Value>& parameters) { return openWith(link, parameters); }
    // Opens port 3 at 9600 and forgets what that reported and called.
    void opened() {
        ASSERT_TRUE(open({3, 9600}));
        client.lines();
        script->takeCalls();
    }
};

} // namespace

TEST(RS232Link, FlowControlTextAndRow) {
    struct Row {
        Value third;
        std::string name;
        platform::FlowControl flowControl;
    };
    const Row rows[] = {
        {"cts", "cts", platform::FlowControl::Cts},
        {"Cts+Dtr", "Cts+Dtr", platform::FlowControl::CtsDtr},
        {"CTS+DSR", "None", platform::FlowControl::None},
        {Value::raw(VT_BSTR), "None", platform::FlowControl::None}, // a null string
        {7, "None", platform::FlowControl::None},
    };
    for (const Row& row : rows) {
        ScriptedRs232 rs;
        ASSERT_TRUE(rs.open({1, 115200, row.third, "ignored"})) << row.name;
        EXPECT_EQ(rs.link.getStatus(), "rs232 com1,115200," + row.name + " online");
        EXPECT_EQ(rs.script->takeCalls().at(0), "open 1 115200 flow " + std::to_string(static_cast<int>(row.flowControl)));
    }
}

TEST(RS232Link, ParametersOfTheWrongShapeChangeNothing) {
    ScriptedRs232 rs;
    for (const std::vector<Value>& parameters :
         {std::vector<Value>{3}, {3, Value::raw(VT_I2)}, {3, 9600.0}, {"3", 9600}, {}}) {
        EXPECT_FALSE(rs.open(parameters));
    }
    EXPECT_TRUE(rs.link.close()); // closed already: true, and no report
    EXPECT_TRUE(rs.client.lines().empty());
    EXPECT_EQ(rs.link.getStatus(), "unknown offline");
    EXPECT_TRUE(rs.script->takeCalls().empty());
}

TEST(RS232Link, PortThatCannotBeConfiguredLeavesTheLinkClosed) {
    ScriptedRs232 rs;
    rs.script->opens = false;
    EXPECT_FALSE(rs.open({4, 9600}));
    EXPECT_FALSE(rs.link.isOpen());
    EXPECT_FALSE(sendBytes(rs.link, bytesOf("x")));
    EXPECT_EQ(rs.client.lines(), (Lines{"rs status rs232 com4,9600,None offline"}));
    rs.script->opens = true;
    EXPECT_TRUE(rs.open({4, 9600}));
}

TEST(RS232Link, LineEventsInFixedOrderWithTheReadAfterRxChar) {
    ScriptedRs232 rs;
    rs.opened();
    // Bytes are there, but without RXCHAR nothing reads them.
    rs.script->arrive(Ev::Cts, "early");
    rs.script->arrive(Ev::Cts | Ev::RxChar, "abc");
    ASSERT_TRUE(rs.client.waitFor("rx"));
    EXPECT_EQ(rs.client.lines(), (Lines{"rs event 1", "rs event 1", "rs event 6", "rs rx \"earlyabc\""}));
    EXPECT_EQ(rs.script->takeCalls(), (std::vector<std::string>{"read"}));

    rs.script->arrive(Ev::All);
    ASSERT_TRUE(rs.client.waitFor("event 6", 2));
    EXPECT_EQ(rs.client.lines(), (Lines{"rs event 0", "rs event 1", "rs event 2", "rs event 3", "rs event 4", "rs event 5",
                                        "rs event 7", "rs event 8", "rs event 6"}));
}

TEST(RS232Link, WritesInOrderEmptyOnesNotAndOpenWhileOpen) {
    ScriptedRs232 rs;
    rs.opened();
    EXPECT_TRUE(sendBytes(rs.link, {}));
    EXPECT_TRUE(sendBytes(rs.link, bytesOf("one")));
    EXPECT_TRUE(sendBytes(rs.link, bytesOf("two")));
    ASSERT_TRUE(rs.client.waitFor("tx \"two\""));
    EXPECT_EQ(rs.client.lines(), (Lines{"rs tx \"one\"", "rs tx \"two\""}));
    EXPECT_EQ(rs.script->takeCalls(), (std::vector<std::string>{"write one", "write two"}));

    rs.script->writes = false; // a failed write is dropped unreported
    EXPECT_TRUE(sendBytes(rs.link, bytesOf("lost")));
    ASSERT_TRUE(rs.script->waitForCall("write lost"));
    rs.script->writes = true;
    EXPECT_TRUE(sendBytes(rs.link, bytesOf("next")));
    ASSERT_TRUE(rs.client.waitFor("tx \"next\""));
    EXPECT_EQ(rs.client.lines(), (Lines{"rs tx \"next\""}));

    // Open on an open link keeps the port but takes the name.
    rs.script->takeCalls();
    EXPECT_FALSE(rs.open({5, 19200, "CTS"}));
    EXPECT_EQ(rs.client.lines(), (Lines{"rs status rs232 com5,19200,CTS online"}));
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
