// The millisecond tick that action deadlines are measured in.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since the process started, as a signed 32-bit number.
std::int32_t tickMs();

} // namespace platform
