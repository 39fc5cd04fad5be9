// The runtime's clock() is elapsed milliseconds since process start on Windows.
#include "platform/clock.h"

#include <ctime>

namespace platform {

std::int32_t tickMs() {
    static_assert(CLOCKS_PER_SEC == 1000, "clock() counts milliseconds on Windows");
    return static_cast<std::int32_t>(std::clock());
}

} // namespace platform
