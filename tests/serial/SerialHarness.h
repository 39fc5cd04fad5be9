// The serial tester driven through ITester3 as the host drives it, with a
// recording host, over the real factory's links or a link the test scripts
// (type name "scripted").
#pragma once

#include "../support/RecordingHost.h"
#include "../support/ScriptedLink.h"
#include "../support/ScriptedSerialPort.h"
#include "links/RS232.h"
#include "../support/Variants.h"
#include "serial/Serial.h"
#include "com/ComObject.h"
#include "com/ComPtr.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <thread>

class TestSerial : public Serial {
public:
    using Serial::LinkInUse;
    using Serial::peekByte;
    using Serial::readByte;
    ScriptedLink* scripted = nullptr; // while the tester owns it
    // The line of an RS-232 link (type name "scripted-rs232") over a scripted port.
    std::shared_ptr<PortScript> port = std::make_shared<PortScript>();

protected:
    std::unique_ptr<ISerial> createLink(const std::string& typeName) override {
        if (typeName == "scripted-rs232") return std::make_unique<RS232>(this, std::make_unique<ScriptedSerialPort>(port));
        if (typeName != "scripted") return Serial::createLink(typeName);
        auto link = std::make_unique<ScriptedLink>(this);
        scripted = link.get();
        return link;
    }
    bool onDelete() override {
        scripted = nullptr;
        return Serial::onDelete();
    }
};

enum Position : ULONG {
    Open, Close, Send, WaitforAt, WaitforEvent, QueueEvents, ClearEventQueue, LogData, SinkData, ScanfAt,
    SendFile, CompareFile, ClearReceiveQueue, StartLoggingToFile, StopLoggingToFile
};

using Lines = std::vector<std::string>;
inline constexpr auto Passed = ActionResult::Passed, Failed = ActionResult::Failed, Error = ActionResult::Error,
                      Aborted = ActionResult::Aborted, Warning = ActionResult::Warning;

struct Outcome {
    HRESULT hr = E_FAIL;
    ActionResult state = ActionResult::Error;
    std::string values; // the result values by type and value: "i7 d2.5 sword "
};

class SerialHarness {
public:
    SerialHarness() {
        ComObject<TestSerial>::create(IID_ITester3, tester.putVoid());
        tester->SetHost(&host);
    }

    TestSerial& serial() { return static_cast<TestSerial&>(static_cast<Tester&>(*tester.get())); }
    ScriptedLink& link() { return *serial().scripted; }

    bool create(const std::vector<Value>& parameters) {
        VARIANT_BOOL ok = VARIANT_FALSE;
        return tester->New(ParameterArray(parameters).get(), &ok) == S_OK && ok == VARIANT_TRUE;
    }
    bool destroyLink() {
        VARIANT_BOOL ok = VARIANT_FALSE;
        return tester->Delete(&ok) == S_OK && ok == VARIANT_TRUE;
    }
    Outcome execute(ULONG position, const std::vector<Value>& parameters = {}) {
        Outcome outcome;
        SAFEARRAY* results = nullptr;
        ULONG state = 0;
        outcome.hr = tester->ExecuteAction(position, ParameterArray(parameters).get(), &results, &state);
        outcome.state = static_cast<ActionResult>(state);
        if (!results) return outcome;
        VARIANT* items = nullptr;
        SafeArrayAccessData(results, reinterpret_cast<void**>(&items));
        std::ostringstream values;
        for (std::uint32_t i = 0; i < elementCount(results); ++i) {
            if (items[i].vt == VT_I4) values << "i" << items[i].lVal << " ";
            if (items[i].vt == VT_R8) values << "d" << items[i].dblVal << " ";
            if (items[i].vt == VT_BSTR) values << "s" << textOf(items[i]) << " ";
        }
        outcome.values = values.str();
        SafeArrayUnaccessData(results);
        SafeArrayDestroy(results);
        return outcome;
    }
    // The texts logged at `level` since the last clear.
    std::vector<std::string> lines(LogLevel level) {
        std::vector<std::string> texts;
        for (const auto& line : host.snapshot())
            if (line.level == static_cast<ULONG>(level)) texts.push_back(line.text);
        return texts;
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

    RecordingHost host;
    ComPtr<ITester3> tester; // goes before the host, and the link with it
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
