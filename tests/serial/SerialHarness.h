// The serial tester driven through ITester3 as the host drives it, over the
// real links or a link the test scripts (type name "scripted").
#pragma once

#include "../support/ScriptedSerial.h"
#include "../support/TesterDriver.h"
#include "serial/Serial.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

class TestSerial : public ScriptedSerial {
public:
    using Serial::LinkInUse;
    using Serial::peekByte;
};

enum Position : ULONG {
    Open, Close, Send, WaitforAt, WaitforEvent, QueueEvents, ClearEventQueue, LogData, SinkData, ScanfAt,
    SendFile, CompareFile, ClearReceiveQueue, StartLoggingToFile, StopLoggingToFile
};

class SerialHarness : public TesterDriver<TestSerial> {
public:
    TestSerial& serial() { return object(); }
    ScriptedLink& link() { return *serial().scripted; }

    // Runs an action on a cleared log, so that lines() shows its lines alone.
    ActionResult run(ULONG position, const std::vector<Value>& parameters = {}) {
        host.clear();
        return execute(position, parameters).state;
    }
    std::string status() {
        Bstr text;
        tester->GetStatus(text.put());
        return textOf(text.get());
    }
    // Waits at most `seconds` for a received byte, outside any action.
    std::uint8_t peekWithin(double seconds) {
        const TestSerial::LinkInUse linkInUse(serial());
        serial().setTimeout(seconds);
        return serial().peekByte();
    }
};

// A tester whose scripted link is open, with its log cleared.
class OpenSerial : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(h.create({Value("scripted")}));
        ASSERT_EQ(h.execute(Open).state, ActionResult::Passed);
        h.host.clear();
    }
    Outcome waitfor(int seconds, const char* text) { return h.execute(WaitforAt, {Value(seconds), Value(text)}); }
    Outcome scanf(int seconds, const char* format) { return h.execute(ScanfAt, {Value(seconds), Value(format)}); }
    // Runs `act` on another thread once the log shows `line`. The log is
    // cleared first so that a line left by an earlier action cannot fire it
    // before the next action has begun.
    std::thread onceLogged(std::string line, std::function<void()> act) {
        h.host.clear();
        return std::thread([this, line = std::move(line), act = std::move(act)] {
            if (h.host.waitFor(line)) act();
        });
    }
    SerialHarness h;
};
