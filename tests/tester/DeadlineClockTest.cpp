// The action deadline and the status suffix against a clock the test sets:
// this executable supplies the millisecond tick itself, so the platform's
// tick is not linked in and every reading is exact.
#include "ProbeTester.h"

#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <optional>

namespace {
std::atomic<std::int32_t> fakeTick{0};
}

namespace platform {
std::int32_t tickMs() { return fakeTick.load(); }
} // namespace platform

namespace {

class DeadlineClock : public ProbeFrame {
protected:
    void SetUp() override {
        fakeTick = 0;
        ProbeFrame::SetUp();
    }
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
        {0, 5.0, 5000, "idle"}, // deadline reached
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
    const struct {
        std::int32_t armedAt;
        std::optional<double> seconds; // none: no deadline armed
        std::int32_t readAt;
        bool timedOut;
    } cases[] = {
        {1000, 0.5, 1500, false}, {1000, 0.5, 1501, true},
        {1000, 0.0019, 1001, false}, {1000, 0.0019, 1002, true},   // 1.9 ms truncates to 1
        {1000, -0.0009, 1000, false}, {1000, -0.0009, 1001, true}, // -0.9 ms truncates to 0
        {1000, -1.0, 0, false}, {1000, -1.0, 1, true},
        {-5000, 2.0, -3000, false}, {-5000, 2.0, -2999, true},
        {INT32_MAX - 1000, 0.5, INT32_MAX - 500, false}, {INT32_MAX - 1000, 0.5, INT32_MAX - 499, true},
        {INT32_MAX - 1000, 5.0, INT32_MAX - 1000, true}, // ends at INT32_MIN + 3999, compared as a signed number
        {0, std::nullopt, 0, false}, {0, std::nullopt, 1, true},  // unarmed: the deadline is 0
    };
    for (const auto& c : cases) {
        bool timedOut = !c.timedOut;
        run([&](ProbeTester& p) {
            fakeTick = c.armedAt;
            if (c.seconds) p.setTimeout(*c.seconds);
            fakeTick = c.readAt;
            timedOut = p.timedOut();
        });
        EXPECT_EQ(timedOut, c.timedOut) << c.armedAt << " + " << c.seconds.value_or(0) << " s, read at " << c.readAt;
    }
}

} // namespace
