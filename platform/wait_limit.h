// The limit that makes a wait last until its condition is met.
#pragma once

#include <chrono>

namespace platform {

inline constexpr std::chrono::milliseconds waitWithoutLimit = std::chrono::milliseconds::max();

} // namespace platform
