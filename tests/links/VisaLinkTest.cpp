// The VISA link against the simulated instrument library built beside this
// test (visa_instrument/), loaded the way the link loads a real one.
#include "LinkTestSupport.h"
#include "links/SerialCreator.h"
#include "platform/library.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string resource = "GPIB0::22::INSTR";
const std::string identity = "Varnel,Simulated Instrument,0,1.0\n";
const std::string voltage = "+1.234500E+00\n";

class VisaLink : public ::testing::Test {
protected:
    // The simulated instrument's own exports, reached through the same library:
    // the reads since an instrument was last opened, and the sessions open now.
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(library.openByName(platform::libraryFileNameHere({"visa64.dll", "libvisa.so"}), error))
            << "the simulated VISA library is not on the library path: " << error;
        readCalls = reinterpret_cast<int (*)()>(library.symbol("instrumentReadCalls"));
        openSessions = reinterpret_cast<int (*)()>(library.symbol("instrumentOpenSessions"));
        ASSERT_TRUE(readCalls && openSessions && link);
    }
    bool waitForReads(int count) const {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (readCalls() < count && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        return readCalls() >= count;
    }
    bool open() { return openWith(*link, {resource}); }
    bool send(const std::string& text) { return sendBytes(*link, bytesOf(text)); }
    // The next answer the link delivers, or "" when none comes in time.
    std::string nextAnswer() {
        if (!client.waitFor("rx ", ++answers)) return "";
        const std::vector<Bytes> received = client.received();
        return received.empty() ? "" : std::string(received.back().begin(), received.back().end());
    }

    platform::SharedLibrary library;
    int (*readCalls)() = nullptr;
    int (*openSessions)() = nullptr;
    RecordingClient client;
    std::unique_ptr<ISerial> link = SerialCreator::instance()->create(&client, "VISA");
    int answers = 0;
};

TEST_F(VisaLink, ParametersThatDoNotFitOpenNothing) {
    for (const std::vector<Value>& shape : std::vector<std::vector<Value>>{{}, {22}, {resource, resource}, {""}, {"GPIB0::22"}})
        EXPECT_FALSE(openWith(*link, shape)) << shape.size() << " parameters";
    EXPECT_FALSE(link->isOpen());
    EXPECT_EQ(openSessions(), 0) << "a failed open gives its sessions back";
    EXPECT_TRUE(client.lines().empty());
}

// The first status change still shows the old name. An instrument that will
// not close keeps the link open until a close succeeds.
TEST_F(VisaLink, OpensClosesAndOpensAgain) {
    EXPECT_FALSE(link->close()) << "not open";
    const std::string name = "status visa " + resource;
    for (const std::string& previous : {std::string("unknown"), "visa " + resource}) {
        ASSERT_TRUE(open());
        EXPECT_FALSE(open()) << "already open";
        EXPECT_EQ(client.lines(), (Lines{"online", "status " + previous + " online", name + " online"}));
        EXPECT_EQ(openSessions(), 2);
        EXPECT_TRUE(link->close());
        EXPECT_EQ(client.lines(), (Lines{"offline", name + " offline"}));
        EXPECT_EQ(openSessions(), 0);
        EXPECT_FALSE(send("*IDN?"));
    }
    ASSERT_TRUE(open());
    EXPECT_TRUE(send("TEST:CLOSEFAIL"));
    client.lines();
    EXPECT_FALSE(link->close());
    EXPECT_TRUE(link->isOnline());
    EXPECT_TRUE(client.lines().empty());
    EXPECT_TRUE(link->close());
}

TEST_F(VisaLink, OnlyQueriesAreReadAndTheirAnswersEndInALineFeed) {
    ASSERT_TRUE(open());
    EXPECT_TRUE(send("*RST"));
    struct Case { const char* query; const std::string& answer; };
    for (const Case& c : {Case{"*IDN?", identity}, Case{"MEAS:VOLT?", voltage}, Case{"*IDN?\n", identity}}) {
        EXPECT_TRUE(send(c.query));
        EXPECT_EQ(nextAnswer(), c.answer) << c.query;
    }
    EXPECT_EQ(readCalls(), 3) << "one read per query, none for the command";
}

// Reads that fail are tried again, ten times in all; the answer is given
// up after that, and the next query is read afresh.
TEST_F(VisaLink, TenReadAttemptsPerQuery) {
    ASSERT_TRUE(open());
    EXPECT_TRUE(send("TEST:TIMEOUTS 9"));
    EXPECT_TRUE(send("MEAS:VOLT?"));
    EXPECT_EQ(nextAnswer(), voltage) << "the tenth attempt reads it";
    EXPECT_EQ(readCalls(), 10);

    EXPECT_TRUE(send("TEST:TIMEOUTS 10"));
    EXPECT_TRUE(send("MEAS:VOLT?"));
    ASSERT_TRUE(waitForReads(20));
    EXPECT_TRUE(send("*IDN?"));
    EXPECT_EQ(nextAnswer(), identity) << "the voltage was given up";
    EXPECT_EQ(readCalls(), 21);
}

// The link writes until the instrument has taken everything, and reports
// what was written even when a write fails part way.
TEST_F(VisaLink, WritesReportWhatTheInstrumentTook) {
    struct Case { const char* setUp; bool sent; const char* reported; };
    for (const Case& c : {Case{"TEST:CHUNK 2", true, "*IDN?"}, Case{"TEST:WRITELIMIT 0", false, ""},
                          Case{"TEST:WRITELIMIT 2", false, "*I"}}) {
        SCOPED_TRACE(c.setUp);
        ASSERT_TRUE(open()); // a new session, with the instrument's defaults
        EXPECT_TRUE(send(c.setUp));
        EXPECT_EQ(send("*IDN?"), c.sent);
        EXPECT_EQ(client.count("tx \"" + std::string(c.reported) + "\""), 1);
        EXPECT_TRUE(c.sent || send("MEAS:VOLT?")); // a failed query: the next is read
        EXPECT_EQ(nextAnswer(), c.sent ? identity : voltage);
        EXPECT_EQ(readCalls(), 1) << "a failed query starts no read";
        EXPECT_TRUE(link->close());
    }
}

// Each read here lasts a while, as a real session's timeout does: the link
// goes without waiting for the remaining attempts, and closes its sessions.
TEST_F(VisaLink, DestroyingEndsAReadSequenceAndClosesTheSessions) {
    ASSERT_TRUE(open());
    EXPECT_TRUE(send("TEST:READDELAY 100"));
    EXPECT_TRUE(send("SYST:NONE?"));
    ASSERT_TRUE(waitForReads(1));
    link.reset();
    EXPECT_LT(readCalls(), 10);
    EXPECT_EQ(openSessions(), 0);
}

} // namespace
