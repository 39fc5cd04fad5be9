// The stop signal and the ready-or-stopped wait against a real descriptor.
#include "PlatformTest.h"
#include "TestChannel.h"

#include "platform/stop_signal.h"
#include "platform/thread.h"

#include <atomic>

namespace {

using namespace std::chrono_literals;
using platform::StopSignal;
using platform::WaitResult;

using platformtest::brokenLimit;
using platformtest::caseName;

TEST(StopSignalTest, StaysSignalledUntilOneReset) {
    StopSignal stop;
    EXPECT_FALSE(stop.isSignalled());
    stop.signal();
    stop.signal();
    EXPECT_TRUE(stop.waitFor(0ms));
    EXPECT_TRUE(stop.waitFor(0ms)) << "a wait must not consume the signal";
    stop.reset();
    EXPECT_FALSE(stop.isSignalled()) << "one reset clears any number of signals";
    EXPECT_FALSE(stop.waitFor(1ms));
}

struct ReadyCase {
    const char* name;
    bool byteSent;
    bool stopSignalled;
    std::chrono::milliseconds limit;
    WaitResult expected;
};

class ReadyOrStoppedTest : public testing::TestWithParam<ReadyCase> {};

TEST_P(ReadyOrStoppedTest, ReportsWhatEndedTheWait) {
    const ReadyCase& test = GetParam();
    TestChannel channel;
    StopSignal stop;
    if (test.byteSent) channel.sendByte();
    if (test.stopSignalled) stop.signal();
    EXPECT_EQ(platform::waitUntilReadyOrStopped(channel.receiver(), stop, test.limit), test.expected);
}

INSTANTIATE_TEST_SUITE_P(States, ReadyOrStoppedTest,
                         testing::Values(ReadyCase{"Nothing", false, false, 20ms, WaitResult::TimedOut},
                                         // A peer that keeps sending must not hold a thread up.
                                         ReadyCase{"StopBeatsReadable", true, true, brokenLimit,
                                                   WaitResult::Stopped}),
                         caseName<ReadyCase>);

TEST(ReadyOrStoppedTest, InvalidWaitableFailsAtOnce) {
    StopSignal stop;
    EXPECT_EQ(platform::waitUntilReadyOrStopped(platform::invalidWaitable, stop, brokenLimit), WaitResult::Failed);
}

struct WakeCase {
    const char* name;
    void (*wake)(TestChannel&, StopSignal&);
    WaitResult expected;
};

class BlockedWaitTest : public testing::TestWithParam<WakeCase> {};

TEST_P(BlockedWaitTest, WakesWithoutALimit) {
    TestChannel channel;
    StopSignal stop;
    StopSignal waiting;
    std::atomic<WaitResult> result{WaitResult::Failed};
    platform::JoinableThread waiter([&] {
        waiting.signal();
        result = platform::waitUntilReadyOrStopped(channel.receiver(), stop, platform::waitWithoutLimit);
    });
    EXPECT_TRUE(waiting.waitFor(brokenLimit));
    GetParam().wake(channel, stop);
    const bool ended = waiter.joinFor(brokenLimit);
    if (!ended) {
        // Still blocked: free it either way, so the test reports instead of hanging.
        stop.signal();
        channel.sendByte();
    }
    ASSERT_TRUE(ended);
    EXPECT_EQ(result, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Wakers, BlockedWaitTest,
    testing::Values(WakeCase{"Stop", [](TestChannel&, StopSignal& stop) { stop.signal(); }, WaitResult::Stopped},
                    WakeCase{"Byte", [](TestChannel& channel, StopSignal&) { channel.sendByte(); },
                             WaitResult::Ready}),
    caseName<WakeCase>);

} // namespace
