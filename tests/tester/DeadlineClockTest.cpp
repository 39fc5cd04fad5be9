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

using DeadlineClock = ProbeFrame;

// The status suffix counts whole seconds left; timedOut() holds once the
// clock is past the deadline, compared as signed 32-bit numbers.
TEST_F(DeadlineClock, StatusAndTimedOutFollowTheClock) {
    probe().setStatusText("idle");
    const struct {
        std::int32_t armedAt;
        std::optional<double> seconds; // none: no deadline armed
        std::int32_t readAt;
        bool timedOut;
        const char* status;
    } cases[] = {
        {10000, 1.999, 10000, false, "idle (Timeout in 1 sec)"}, // 1999 ms left
        {10000, 1.999, 10999, false, "idle (Timeout in 1 sec)"}, // exactly 1000 ms left
        {10000, 1.999, 11000, false, "idle"},                    // 999 ms left
        {1000, 0.5, 1500, false, "idle"}, {1000, 0.5, 1501, true, "idle"},
        {1000, 0.0019, 1001, false, "idle"}, {1000, 0.0019, 1002, true, "idle"},   // 1.9 ms truncates to 1
        {1000, -0.0009, 1000, false, "idle"}, {1000, -0.0009, 1001, true, "idle"}, // -0.9 ms truncates to 0
        {1000, -1.0, 0, false, "idle"}, {1000, -1.0, 1, true, "idle"},
        {-5000, 2.0, -3000, false, "idle"}, {-5000, 2.0, -2999, true, "idle"},
        // A clock that has wrapped negative: the difference exceeds the 32-bit range.
        {-100, 1e12, -100, false, "idle (Timeout in 2147483 sec)"},
        {INT32_MAX - 1000, 0.5, INT32_MAX - 500, false, "idle"}, {INT32_MAX - 1000, 0.5, INT32_MAX - 499, true, "idle"},
        // Arming near the top of the clock wraps the deadline below it: no suffix, timed out.
        {INT32_MAX - 1000, 5.0, INT32_MAX - 1000, true, "idle"},
        {0, std::nullopt, 0, false, "idle"}, {0, std::nullopt, 1, true, "idle"}, // unarmed: the deadline is 0
    };
    for (const auto& c : cases) {
        bool timedOut = !c.timedOut;
        std::string seen;
        run([&](ProbeTester& p) {
            fakeTick = c.armedAt;
            if (c.seconds) p.setTimeout(*c.seconds);
            fakeTick = c.readAt;
            timedOut = p.timedOut();
            seen = status();
        });
        const auto trace = testing::Message() << c.armedAt << " + " << c.seconds.value_or(0) << " s, read at " << c.readAt;
        EXPECT_EQ(timedOut, c.timedOut) << trace;
        EXPECT_EQ(seen, c.status) << trace;
        if (c.readAt >= 0) { // a disarmed deadline is 0: behind such a clock
            EXPECT_EQ(status(), "idle") << "the deadline is disarmed when the action returns";
        }
    }
}

} // namespace
