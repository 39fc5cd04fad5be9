// The C library's clock() counts processor time here, not elapsed time, so
// the tick is a monotonic clock counted from process start instead.
#include "platform/clock.h"

#include <chrono>

namespace platform {

namespace {
const auto processStart = std::chrono::steady_clock::now();
}

std::int32_t tickMs() {
    const auto elapsed = std::chrono::steady_clock::now() - processStart;
    return static_cast<std::int32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

} // namespace platform
