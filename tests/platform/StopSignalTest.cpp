// The stop signal, the ready-or-stopped wait on a real descriptor, the joinable thread.
#include "TestChannel.h"

#include "platform/stop_signal.h"
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using namespace std::chrono_literals;
using platform::JoinableThread;
using platform::StopSignal;
using platform::WaitResult;

// Ends a wait that should end sooner only when the code is broken.
constexpr std::chrono::seconds brokenLimit{30};

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

TEST(ReadyOrStoppedTest, ReportsWhatEndedTheWait) {
    TestChannel channel;
    StopSignal stop;
    EXPECT_EQ(platform::waitUntilReadyOrStopped(channel.receiver(), stop, 20ms), WaitResult::TimedOut);
    // A peer that keeps sending must not hold a thread up.
    channel.sendByte();
    stop.signal();
    EXPECT_EQ(platform::waitUntilReadyOrStopped(channel.receiver(), stop, brokenLimit), WaitResult::Stopped);
    EXPECT_EQ(platform::waitUntilReadyOrStopped(platform::invalidWaitable, stop, brokenLimit), WaitResult::Failed);
}

TEST(JoinableThreadTest, BoundedJoinReportsAThreadStillRunning) {
    StopSignal stop;
    JoinableThread thread([&] { stop.waitFor(platform::waitWithoutLimit); });
    EXPECT_FALSE(thread.joinFor(10ms));
    EXPECT_TRUE(thread.isRunning());
    stop.signal();
    EXPECT_TRUE(thread.joinFor(brokenLimit));
    EXPECT_FALSE(thread.isRunning());
}

TEST(JoinableThreadTest, WhatABodyThrowsIsCaughtAndReportedUntilTheNextStart) {
    JoinableThread thread([] { throw std::runtime_error("port vanished"); });
    ASSERT_TRUE(thread.joinFor(brokenLimit));
    EXPECT_EQ(thread.failure(), std::optional<std::string>("port vanished"));
    thread.start([] { throw 42; });
    ASSERT_TRUE(thread.joinFor(brokenLimit));
    EXPECT_TRUE(thread.failure().has_value());
    thread.start([] {});
    ASSERT_TRUE(thread.joinFor(brokenLimit));
    EXPECT_FALSE(thread.failure().has_value());
}

} // namespace
