// Line events through the serial tester: a scripted link raises them as an
// RS-232 link does (their order there: tests/links/RS232LinkTest.cpp), on a
// thread of its own or the test's.
#include "SerialHarness.h"

namespace {

class SerialEvents : public OpenSerial {
protected:
    Outcome waitforEvent(std::vector<Value> parameters) { return h.execute(WaitforEvent, parameters); }
    Outcome queueEvents(std::vector<Value> parameters) { return h.execute(QueueEvents, parameters); }
    void raise(std::initializer_list<CommEvent> events) {
        for (const CommEvent event : events) h.link().raise(event);
    }
};

TEST_F(SerialEvents, WaitforEventSwitchesQueuingOnAndWakesOnTheEvent) {
    std::thread ringer = onceLogged("Waiting for 'RING' event with 3 second timeout", [&] { raise({CommEvent::RING}); });
    EXPECT_EQ(waitforEvent({Value(3), Value("ring")}).state, Passed);
    ringer.join();
    EXPECT_EQ(h.lines(LogLevel::Info), Lines{"Enabling event queuing"});
    EXPECT_TRUE(h.host.contains("Expected event \"ring\" received"));

    // Queued events count; other kinds are consumed on the way.
    raise({CommEvent::CTS, CommEvent::CTS, CommEvent::CTS, CommEvent::DSR});
    EXPECT_EQ(waitforEvent({Value(1), Value("DSR")}).state, Passed);
    EXPECT_EQ(waitforEvent({Value(0), Value("CTS")}).state, Failed);
}

// (An unknown event name is refused in examples/files.varnel.)
TEST_F(SerialEvents, BadParametersAreRefusedButStillSwitchQueuingOn) {
    EXPECT_EQ(waitforEvent({Value(2), Value(3)}).state, Error);
    EXPECT_EQ(h.lines(LogLevel::Warning),
              Lines{"Invalid parameters to eWaitForEvent - [int,]string expected - command ignored"});
    raise({CommEvent::Break});
    EXPECT_EQ(waitforEvent({Value(0), Value("break")}).state, Passed);
    h.host.clear();
    EXPECT_EQ(queueEvents({Value(1)}).state, Warning);
    EXPECT_EQ(h.lines(LogLevel::Warning), Lines{"Invalid parameters to eventLogging - bool expected - command ignored"});
}

TEST_F(SerialEvents, SwitchingQueuingOffOrClearingEmptiesTheQueue) {
    EXPECT_EQ(queueEvents({Value::boolean(true)}).state, Passed);
    raise({CommEvent::CTS});
    EXPECT_EQ(h.execute(ClearEventQueue).state, Passed);
    EXPECT_EQ(waitforEvent({Value(0), Value("CTS")}).state, Failed);

    raise({CommEvent::CTS});
    EXPECT_EQ(queueEvents({Value::boolean(false)}).state, Passed);
    raise({CommEvent::CTS}); // logged, never queued
    EXPECT_TRUE(h.host.contains("'CTS' Received"));
    h.host.clear();
    EXPECT_EQ(waitforEvent({Value(0), Value("CTS")}).state, Failed);
    EXPECT_EQ(h.lines(LogLevel::Info), Lines{"Enabling event queuing"});
}

TEST_F(SerialEvents, AClosedLinkEndsTheWaitAsATimeout) {
    // Events of a kind not waited for do not end the wait; closing does.
    std::thread closer = onceLogged("Waiting for 'ERR' event with 30 second timeout", [&] {
        raise({CommEvent::RXCHAR, CommEvent::TXEMPTY});
        h.link().close();
    });
    EXPECT_EQ(waitforEvent({Value(30), Value("ERR")}).state, Failed);
    closer.join();
    EXPECT_EQ(h.lines(LogLevel::Error), Lines{"Timeout waiting for \"ERR\" event"});
}

} // namespace
