#include "platform/pause.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Clock::duration timePause(std::chrono::milliseconds length) {
    const auto start = Clock::now();
    platform::pause(length);
    return Clock::now() - start;
}

TEST(PauseTest, FullLengthUnlessShortened) {
    platform::restoreFullPauses();
    EXPECT_GE(timePause(50ms), 50ms);
    platform::shortenPauses(0ms);
    EXPECT_LT(timePause(20s), 20s);
    platform::restoreFullPauses();
}

} // namespace
