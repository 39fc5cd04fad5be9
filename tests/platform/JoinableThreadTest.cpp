#include "PlatformTest.h"

#include "platform/stop_signal.h"
#include "platform/thread.h"

#include <stdexcept>

namespace {

using namespace std::chrono_literals;
using platform::JoinableThread;
using platform::StopSignal;

using platformtest::brokenLimit;
using platformtest::caseName;

TEST(JoinableThreadTest, BoundedJoinReportsAThreadStillRunning) {
    StopSignal stop;
    JoinableThread thread([&] { stop.waitFor(platform::waitWithoutLimit); });
    EXPECT_FALSE(thread.joinFor(10ms));
    EXPECT_TRUE(thread.isRunning());
    stop.signal();
    EXPECT_TRUE(thread.joinFor(brokenLimit));
    EXPECT_FALSE(thread.isRunning());
}

struct ThrowCase {
    const char* name;
    void (*body)();
    const char* expected; // null: any text
};

class ThrowingBodyTest : public testing::TestWithParam<ThrowCase> {};

TEST_P(ThrowingBodyTest, IsCaughtAndReportedUntilTheNextStart) {
    JoinableThread thread(GetParam().body);
    ASSERT_TRUE(thread.joinFor(brokenLimit));
    const auto failure = thread.failure();
    ASSERT_TRUE(failure.has_value());
    if (GetParam().expected) {
        EXPECT_EQ(*failure, GetParam().expected);
    }

    thread.start([] {});
    ASSERT_TRUE(thread.joinFor(brokenLimit));
    EXPECT_FALSE(thread.failure().has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, ThrowingBodyTest,
    testing::Values(ThrowCase{"Standard", [] { throw std::runtime_error("port vanished"); }, "port vanished"},
                    ThrowCase{"OtherType", [] { throw 42; }, nullptr}),
    caseName<ThrowCase>);

} // namespace
