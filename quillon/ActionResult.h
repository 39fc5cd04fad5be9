// The two number scales the host sees: an action's result state and the
// level of each log line.
#pragma once

#include <cstdint>

enum class ActionResult : std::uint32_t {
    Passed = 0,
    Failed = 1,
    Warning = 3,
    Error = 4,
    Aborted = 6,
};

enum class LogLevel : std::uint32_t {
    Info = 3,
    Trace = 4,
    Warning = 5,
    Error = 6,
};
