// The C library's clock() counts processor time here, not elapsed time, so
// the tick is a monotonic clock counted from process start instead. The
// coarse clock serves: the tick is read several times in every action and
// costs a fifth of the fine clock, and it still advances every few
// milliseconds (as the tick counts on Windows do), far finer than the whole
// seconds that deadlines are given in.
#include "platform/clock.h"

#include <time.h>

#include <cstdint>

namespace platform {

namespace {

std::int64_t coarseMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

const std::int64_t processStart = coarseMs();

} // namespace

std::int32_t tickMs() { return static_cast<std::int32_t>(coarseMs() - processStart); }

} // namespace platform
