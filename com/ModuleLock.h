// The module's lock count: every live creator, tester and class-factory lock
// holds one, and the module may unload only when it is 0. The module mutex
// serialises one-time work such as loading type information.
#pragma once

#include <mutex>

class ModuleLock {
public:
    static void acquire() noexcept;
    static void release() noexcept;
    static long count() noexcept;
    static std::mutex& mutex() noexcept;
};
