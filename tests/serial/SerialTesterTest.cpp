// The serial tester through ITester3 over a scripted link: new and delete,
// the core actions and their messages, traffic lines, waitfor and scanf.
#include "SerialHarness.h"
#include "tests/support/Pauses.h"

namespace {

TEST(SerialTester, NewDeleteAndActionsWithoutALink) {
    SerialHarness h;
    for (ULONG position = 0; position < 15; ++position) {
        EXPECT_EQ(h.run(position, {Value(1), Value("x")}), Error);
        EXPECT_EQ(h.lines(LogLevel::Error), Lines{"Serial: not open\n"}) << position;
    }
    const std::pair<std::vector<Value>, const char*> refused[] = {
        {{}, "Serial: Invalid parameters to open\n"},
        {{Value("loopback"), Value("loopback")}, "Serial: Invalid parameters to open\n"},
        {{Value("no such kind")}, "Serial: Failed to open serial interface\n"},
    };
    for (const auto& [parameters, message] : refused) {
        h.host.clear();
        EXPECT_FALSE(h.create(parameters));
        EXPECT_EQ(h.lines(LogLevel::Error), Lines{message});
    }
    ASSERT_TRUE(h.create({Value("scripted")}));
    EXPECT_EQ(h.status(), "unknown offline"); // made closed
    h.host.clear();
    EXPECT_FALSE(h.create({Value("scripted")}));
    EXPECT_EQ(h.lines(LogLevel::Error), Lines{"Serial: already open\n"});
    ASSERT_EQ(h.execute(Open).state, Passed);
    ASSERT_EQ(h.execute(LogData, {Value::boolean(false)}).state, Passed);

    // Delete while bytes keep arriving: the link is detached at once (the
    // status no longer reaches it while it still lives) and destroyed after
    // the pause, at its real length.
    const FullPauses fullPauses;
    h.link().startStreaming("noise");
    using Clock = std::chrono::steady_clock;
    std::atomic<bool> deleting{true}, destroyed{false}, sawDetached{false};
    Clock::time_point destroyedAt;
    h.link().onDestroyed = [&] { destroyedAt = Clock::now(), destroyed = true; };
    std::thread watcher([&] {
        for (; deleting && !sawDetached; std::this_thread::sleep_for(std::chrono::milliseconds(1)))
            sawDetached = h.status().empty() && !destroyed;
    });
    const auto deleteAt = Clock::now();
    EXPECT_TRUE(h.destroyLink());
    deleting = false;
    watcher.join();
    EXPECT_TRUE(sawDetached);
    ASSERT_TRUE(destroyed);
    EXPECT_GE(destroyedAt - deleteAt, std::chrono::milliseconds(900));
    EXPECT_FALSE(h.destroyLink()); // nothing left to destroy
    ASSERT_TRUE(h.create({Value("scripted")}));
    // The queue and the flags outlive the link: what arrived before "delete"
    // is still there to read, and traffic is still not logged.
    ASSERT_EQ(h.execute(Open).state, Passed);
    h.host.clear();
    h.link().receive("quiet");
    EXPECT_TRUE(h.lines(LogLevel::Trace).empty());
    EXPECT_EQ(h.peekWithin(1), 'n');
}

TEST_F(OpenSerial, OpenCloseAndSendResults) {
    EXPECT_EQ(h.execute(Close).state, Passed);
    h.link().openResult = false;
    EXPECT_EQ(h.execute(Open).state, Error);
    h.link().openResult = true;
    EXPECT_EQ(h.execute(Open, {Value(1), Value(9600)}).state, Passed);
    h.link().closeResult = false;
    EXPECT_EQ(h.execute(Close).state, Failed);
    ASSERT_EQ(h.execute(Open).state, Passed);

    h.link().acceptWrites = false;
    EXPECT_EQ(h.execute(Send, {Value("x")}).state, Error);
    h.link().acceptWrites = true;
    h.link().reportTransmitted = false;
    EXPECT_EQ(h.run(Send, {Value(1), Value("never reported")}), Failed);
    EXPECT_TRUE(h.lines(LogLevel::Error).empty()); // a timeout logs nothing

    // A closed link reads nothing, even with bytes queued; they wait for the next open.
    h.link().receive("x");
    h.link().closeResult = true;
    ASSERT_EQ(h.execute(Close).state, Passed);
    EXPECT_EQ(h.peekWithin(0.2), 0);
    ASSERT_EQ(h.execute(Open).state, Passed);
    EXPECT_EQ(h.peekWithin(1), 'x');
}

TEST_F(OpenSerial, TrafficLinesLogDataSinkDataAndClearing) {
    h.link().receive(std::string(300, 'A'));
    h.link().receive("50%\x01");
    EXPECT_EQ(h.lines(LogLevel::Trace), (Lines{"Rx:length 300 too long to log truncated to 255",
                                               "Rx:" + std::string(255, 'A'), "Rx:50%<01>"}));
    h.serial().onCommEvent(&h.link(), static_cast<CommEvent>(9)); // known ones: SerialEventsTest.cpp
    EXPECT_TRUE(h.host.contains("Unknown event 9 received"));

    // The unread rest of the current chunk goes with the queued ones.
    EXPECT_EQ(h.peekWithin(1), 'A');
    EXPECT_EQ(h.execute(ClearReceiveQueue).state, Passed);
    EXPECT_EQ(h.peekWithin(0.2), 0);

    // Sunk bytes are still traced, but nothing is left to read.
    EXPECT_EQ(h.execute(SinkData, {Value::boolean(true)}).state, Passed);
    h.link().receive("sunk");
    EXPECT_TRUE(h.host.contains("sinkData True") && h.host.contains("Rx:sunk"));
    EXPECT_EQ(h.peekWithin(0.2), 0);
    EXPECT_EQ(h.execute(LogData, {Value::boolean(false)}).state, Passed);
    EXPECT_TRUE(h.host.contains("logData False"));
    h.host.clear();
    h.link().receive("quiet");
    EXPECT_TRUE(h.lines(LogLevel::Trace).empty());
    Value one = Value::raw(VT_BOOL); // only VARIANT_TRUE counts as true
    one.get().boolVal = 1;
    EXPECT_EQ(h.execute(SinkData, {one}).state, Passed);
    EXPECT_EQ(h.execute(LogData, {Value::boolean(true)}).state, Passed);
    h.link().receive("kept");
    EXPECT_TRUE(h.host.contains("sinkData False") && h.host.contains("Rx:kept"));
    EXPECT_EQ(h.peekWithin(2), 'k');
}

TEST_F(OpenSerial, ParameterErrorsChangeNothingElse) {
    const struct { ULONG position; std::vector<Value> parameters; ActionResult state; LogLevel level; const char* line; } cases[] = {
        {SinkData, {Value("true")}, ActionResult::Warning, LogLevel::Warning,
         "Invalid parameters to sinkData - bool expected - command ignored"},
        {ScanfAt, {Value(1), Value(2.5)}, Error, LogLevel::Error, "Scanf parameters invalid"},
        {ScanfAt, {Value::boolean(true), Value("%d")}, Error, LogLevel::Error, "Scanf parameters invalid"},
        {WaitforAt, {Value(5), Value("'a' or")}, Error, LogLevel::Error, "Serial: Invalid waitfor string\n"},
    };
    h.link().receive("keep 7\r");
    for (const auto& c : cases) {
        EXPECT_EQ(h.run(c.position, c.parameters), c.state) << c.line;
        EXPECT_EQ(h.lines(c.level), Lines{c.line});
    }
    // Nothing was read and the flags kept their values: bytes still arrive
    // traced and queued.
    h.link().receive("!");
    EXPECT_TRUE(h.host.contains("Rx:!"));
    EXPECT_EQ(waitfor(5, "'keep'").state, Passed);
    EXPECT_EQ(h.execute(ScanfAt, {Value("%d"), Value("unused")}).values, "i7 ");
    // Without a text the text is empty, which nothing matches: no parameter error.
    EXPECT_EQ(h.run(WaitforAt, {Value(1), Value(2)}), Failed);
    EXPECT_TRUE(h.lines(LogLevel::Error).empty());
}

TEST_F(OpenSerial, WaitforOverChunksAndTime) {
    h.link().receive("xxERRORyy");
    EXPECT_EQ(waitfor(5, "'OK' or 'ERROR'").state, Passed);
    EXPECT_EQ(h.peekWithin(1), 'y'); // bytes after the completing one stay unread

    std::thread link = onceLogged("waitfor text:'A' and ('B' and 'HELLO')", [&] {
        for (const char* chunk : {"..B", "", "HEL", "LO A"}) h.link().receive(chunk);
    });
    EXPECT_EQ(waitfor(10, "'A' and 'B' and 'HELLO'").state, Passed);
    link.join();
    h.link().receive("ABAB");
    h.link().receive("C50%\r7<x>");
    EXPECT_EQ(h.execute(WaitforAt, {Value(5), Value("'ABC' and '50%%\\r' and '%d<x>'"), Value(7)}).state, Passed);
    EXPECT_TRUE(h.host.contains("waitfor text:'ABC' and ('50%\r' and '7<x>')"));
    EXPECT_TRUE(h.host.contains("Seen:ABC") && h.host.contains("Seen:50%<0d>") && h.host.contains("Seen:7<3c>x<3e>"));

    h.link().receive("OK");
    h.link().receive("..."); // read to the end: only the deadline decides
    EXPECT_EQ(waitfor(1, "'OK' and not 'ERROR'").state, Passed);
    EXPECT_EQ(h.peekWithin(0.2), 0);
}

TEST_F(OpenSerial, WaitsEndOnAClosedLinkAndOutOfRangeTimeouts) {
    // -1 reads as 4294967295 seconds, more than the millisecond clock spans.
    std::thread aborter = onceLogged("waitfor text:'never'", [&] { h.tester->Abort(); });
    const ActionResult outOfRange = waitfor(-1, "'never'").state;
    aborter.join();
    EXPECT_TRUE(outOfRange == Failed || outOfRange == Aborted);
    std::thread closer = onceLogged("waitfor text:'never'", [&] { h.link().close(); });
    EXPECT_EQ(waitfor(30, "'never'").state, Error);
    closer.join();
    ASSERT_EQ(h.execute(Open).state, Passed);
    h.link().receive("56");
    closer = onceLogged("Action scanf start", [&] { h.link().close(); });
    EXPECT_EQ(scanf(30, "%d %d").state, Failed);
    closer.join();
}

// A literal awaited past the deadline meets the reader's 0; the host's copy
// of the line ends where that byte is.
TEST_F(OpenSerial, ScanfLiteralPastTheDeadline) {
    EXPECT_EQ(scanf(1, "A").state, Error);
    EXPECT_EQ(h.lines(LogLevel::Error), Lines{"Incorrect character received at position 0 (Expected 'A' Got '"});
}

} // namespace
