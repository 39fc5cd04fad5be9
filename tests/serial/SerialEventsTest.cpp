// Line events through the serial tester: a scripted link raises them as an
// RS-232 link does, on a thread of its own or the test's.
#include "SerialHarness.h"

namespace {

class SerialEvents : public OpenSerial {
protected:
    ActionResult waitforEvent(int seconds, const char* name) {
        return h.execute(WaitforEvent, {Value(seconds), Value(name)}).state;
    }
    void raise(std::initializer_list<CommEvent> events) {
        for (const CommEvent event : events) h.link().raise(event);
    }
};

TEST_F(SerialEvents, WaitforEventSwitchesQueuingOnAndWakesOnTheEvent) {
    std::thread ringer = onceLogged("Waiting for 'RING' event with 3 second timeout", [&] { raise({CommEvent::RING}); });
    EXPECT_EQ(waitforEvent(3, "ring"), Passed);
    ringer.join();
    EXPECT_EQ(h.lines(LogLevel::Info), Lines{"Enabling event queuing"});
    EXPECT_TRUE(h.host.contains("Expected event \"ring\" received"));

    // Queued events count; other kinds are consumed on the way.
    raise({CommEvent::CTS, CommEvent::CTS, CommEvent::CTS, CommEvent::DSR});
    EXPECT_EQ(waitforEvent(1, "DSR"), Passed);
    EXPECT_EQ(waitforEvent(0, "CTS"), Failed);
}

// (An unknown event name is refused in examples/files.varnel.)
TEST_F(SerialEvents, BadParametersAreRefusedButStillSwitchQueuingOn) {
    EXPECT_EQ(h.execute(WaitforEvent, {Value(2), Value(3)}).state, Error);
    EXPECT_EQ(h.lines(LogLevel::Warning),
              Lines{"Invalid parameters to eWaitForEvent - [int,]string expected - command ignored"});
    raise({CommEvent::Break});
    EXPECT_EQ(waitforEvent(0, "break"), Passed);
    EXPECT_EQ(h.run(QueueEvents, {Value(1)}), Warning);
    EXPECT_EQ(h.lines(LogLevel::Warning), Lines{"Invalid parameters to eventLogging - bool expected - command ignored"});
}

TEST_F(SerialEvents, SwitchingQueuingOffOrClearingEmptiesTheQueue) {
    EXPECT_EQ(h.execute(QueueEvents, {Value::boolean(true)}).state, Passed);
    raise({CommEvent::CTS});
    EXPECT_EQ(h.execute(ClearEventQueue).state, Passed);
    EXPECT_EQ(waitforEvent(0, "CTS"), Failed);

    raise({CommEvent::CTS});
    EXPECT_EQ(h.execute(QueueEvents, {Value::boolean(false)}).state, Passed);
    raise({CommEvent::CTS}); // logged, never queued
    EXPECT_TRUE(h.host.contains("'CTS' Received"));
    EXPECT_EQ(h.run(WaitforEvent, {Value(0), Value("CTS")}), Failed);
    EXPECT_EQ(h.lines(LogLevel::Info), Lines{"Enabling event queuing"});
}

TEST_F(SerialEvents, AClosedLinkEndsTheWaitAsATimeout) {
    // Events of a kind not waited for do not end the wait; closing does.
    std::thread closer = onceLogged("Waiting for 'ERR' event with 30 second timeout", [&] {
        raise({CommEvent::RXCHAR, CommEvent::TXEMPTY});
        h.link().close();
    });
    EXPECT_EQ(waitforEvent(30, "ERR"), Failed);
    closer.join();
}

} // namespace
