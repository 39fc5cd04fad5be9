// How many descriptors (Linux) or handles (Windows) the test process holds
// now: a link that is opened and closed many times must leave it unchanged.
#pragma once

#include <cstddef>

#ifdef _WIN32
#include <windows.h>
#else
#include <filesystem>
#include <iterator>
#endif

inline std::size_t openHandleCount() {
#ifdef _WIN32
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
#else
    const std::filesystem::directory_iterator entries("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
#endif
}
