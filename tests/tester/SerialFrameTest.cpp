// The framework as the host meets it in the serial tester: the identity line,
// table positions that differ from action ids, help arrays, flags, child
// testers and the script directory. No link is made.
#include "ProbeTester.h"

#include "../support/RecordingHost.h"
#include "../support/Variants.h"
#include "serial/Serial.h"

#include <gtest/gtest.h>

namespace {

// Records the id the frame hands over, then lets the serial tester handle it.
class RecordingSerial : public Serial {
public:
    std::uint32_t lastActionId = 0xFFFFFFFF;

protected:
    ActionResult executeAction(std::uint32_t actionId, std::uint32_t count, const VARIANT* parameters) override {
        lastActionId = actionId;
        return Serial::executeAction(actionId, count, parameters);
    }
};

class SerialFrame : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ComObject<RecordingSerial>::create(IID_ITester3, reinterpret_cast<void**>(&tester)), S_OK);
    }
    void TearDown() override { tester->Release(); }
    RecordingSerial& serial() { return static_cast<RecordingSerial&>(static_cast<Tester&>(*tester)); }

    ULONG execute(ULONG position) {
        ParameterArray none{};
        SAFEARRAY* results = nullptr;
        ULONG state = 0xDEADBEEF;
        EXPECT_EQ(tester->ExecuteAction(position, none.get(), &results, &state), S_OK);
        if (results) SafeArrayDestroy(results);
        return state;
    }

    ITester3* tester = nullptr;
};

TEST_F(SerialFrame, IdentityLineGoesToEachNewHostAndANullHostDropsLines) {
    RecordingHost first;
    RecordingHost second;
    const ULONG own = first.references; // the test's own reference
    EXPECT_EQ(tester->SetHost(&first), S_OK);
    EXPECT_EQ(tester->SetHost(&second), S_OK);
    for (RecordingHost* host : {&first, &second}) {
        const auto lines = host->snapshot();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, "Tester: 'serial' Version '5.0'");
        EXPECT_EQ(lines[0].level, static_cast<ULONG>(LogLevel::Info));
    }
    EXPECT_EQ(first.references, own) << "the first host was released when the second came";
    EXPECT_EQ(second.references, own + 1);

    EXPECT_EQ(tester->SetHost(nullptr), S_OK);
    EXPECT_EQ(second.references, own);
    execute(1); // would log its start line and "Serial: not open"
    EXPECT_EQ(second.snapshot().size(), 1u);
}

TEST_F(SerialFrame, PositionFiveIsQueueEventsWithIdSix) {
    BSTR name = nullptr;
    ASSERT_EQ(tester->GetActionName(5, &name), S_OK);
    EXPECT_EQ(textOf(name), "queueEvents");
    SysFreeString(name);
    ASSERT_EQ(tester->GetActionName(6, &name), S_OK);
    EXPECT_EQ(textOf(name), "clearEventQueue");
    SysFreeString(name);

    execute(5);
    EXPECT_EQ(serial().lastActionId, 6u);
    execute(6);
    EXPECT_EQ(serial().lastActionId, 5u);
    execute(14);
    EXPECT_EQ(serial().lastActionId, 14u);
}

TEST_F(SerialFrame, CloseHasADescriptionAndNoHelpArrays) {
    expectDescriptionOnly(tester, 1, "Close the serial line");
}

TEST_F(SerialFrame, NoFlagsNoChildTestersAndTheScriptDirectoryStartsAsDot) {
    expectNoFlagsAndNoChildTesters(tester);
    EXPECT_EQ(serial().scriptDirectory(), ".");
}

} // namespace
