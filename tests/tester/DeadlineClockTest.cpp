// The action deadline and the status suffix against a clock the test sets:
// this executable supplies the millisecond tick itself, so the platform's
// tick is not linked in and every reading is exact.
#include "ProbeTester.h"

#include "../support/Variants.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <string>
#include <vector>

namespace {
std::atomic<std::int32_t> fakeTick{0};
}

namespace platform {
std::int32_t tickMs() { return fakeTick.load(); }
} // namespace platform

namespace {

class DeadlineClock : public testing::Test {
protected:
    void SetUp() override {
        fakeTick = 0;
        tester = makeTester<ProbeTester>();
        ASSERT_NE(tester, nullptr);
    }
    void TearDown() override { tester->Release(); }
    ProbeTester& probe() { return implementationOf<ProbeTester>(tester); }

    std::string status() {
        BSTR text = nullptr;
        EXPECT_EQ(tester->GetStatus(&text), S_OK);
        std::string result = platform::narrowFromBstr(text);
        SysFreeString(text);
        return result;
    }

    // Runs the handler as the action at position 0 and returns its state.
    ULONG run(std::function<void(ProbeTester&)> body) {
        probe().handlers[0] = [&](ProbeTester& p, std::uint32_t, const VARIANT*) {
            body(p);
            return ActionResult::Passed;
        };
        ParameterArray none{};
        SAFEARRAY* results = nullptr;
        ULONG state = 0xDEADBEEF;
        EXPECT_EQ(tester->ExecuteAction(0, none.get(), &results, &state), S_OK);
        if (results) SafeArrayDestroy(results);
        return state;
    }

    ITester3* tester = nullptr;
};

TEST_F(DeadlineClock, StatusShowsTheWholeSecondsLeftAndNothingBelowOne) {
    probe().setStatusText("idle");
    struct Case {
        std::int32_t armedAt;
        double seconds;
        std::int32_t readAt;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {10000, 1.999, 10000, "idle (Timeout in 1 sec)"}, // 1999 ms left
        {10000, 1.999, 11000, "idle"},                    // 999 ms left
        {10000, 1.999, 10999, "idle (Timeout in 1 sec)"}, // exactly 1000 ms left
        {0, 5.0, 0, "idle (Timeout in 5 sec)"},
        {0, 5.0, 5000, "idle"},                           // deadline reached
        {0, 5.0, 6000, "idle"},                           // deadline passed
        // A clock that has wrapped negative: the difference exceeds the 32-bit range.
        {-100, 1e12, -100, "idle (Timeout in 2147483 sec)"},
        // Arming near the top of the clock wraps the deadline below it: no suffix.
        {INT32_MAX - 1000, 5.0, INT32_MAX - 1000, "idle"},
    };
    for (const Case& c : cases) {
        std::string seen;
        run([&](ProbeTester& p) {
            fakeTick = c.armedAt;
            p.setTimeout(c.seconds);
            fakeTick = c.readAt;
            seen = status();
        });
        EXPECT_EQ(seen, c.expected) << c.armedAt << " + " << c.seconds << " s, read at " << c.readAt;
        EXPECT_EQ(status(), "idle") << "the deadline is disarmed when the action returns";
    }
}

TEST_F(DeadlineClock, TimedOutOnlyOnceTheClockIsPastTheDeadline) {
    struct Case {
        std::int32_t armedAt;
        double seconds;
        std::int32_t lastWaiting; // the last reading that is not timed out
    };
    const std::vector<Case> cases = {
        {1000, 0.5, 1500},
        {1000, 0.0019, 1001},                    // 1.9 ms truncates to 1
        {1000, -0.0009, 1000},                   // -0.9 ms truncates to 0
        {1000, -1.0, 0},
        {-5000, 2.0, -3000},
        {INT32_MAX - 1000, 0.5, INT32_MAX - 500},
    };
    for (const Case& c : cases) {
        std::vector<bool> seen;
        run([&](ProbeTester& p) {
            fakeTick = c.armedAt;
            p.setTimeout(c.seconds);
            fakeTick = c.lastWaiting;
            seen.push_back(p.timedOut());
            fakeTick = c.lastWaiting + 1;
            seen.push_back(p.timedOut());
        });
        EXPECT_EQ(seen, (std::vector<bool>{false, true})) << c.armedAt << " + " << c.seconds << " s";
    }
}

TEST_F(DeadlineClock, ADeadlineThatWrapsIsComparedAsASignedNumber) {
    std::vector<bool> seen;
    run([&](ProbeTester& p) {
        fakeTick = INT32_MAX - 1000;
        p.setTimeout(5.0); // ends at INT32_MIN + 3999
        seen.push_back(p.timedOut());
    });
    EXPECT_EQ(seen, std::vector<bool>{true});
}

TEST_F(DeadlineClock, WithoutAnArmedDeadlineTimedOutIsTrueOnceTheClockPassesZero) {
    std::vector<bool> seen;
    run([&](ProbeTester& p) {
        fakeTick = 0;
        seen.push_back(p.timedOut());
        fakeTick = 1;
        seen.push_back(p.timedOut());
    });
    EXPECT_EQ(seen, (std::vector<bool>{false, true}));
}

} // namespace
