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

// One module lock held for the holder's own lifetime. The object wrappers
// list it as their first base: it is made before and destroyed after all
// else of the object, so the module cannot unload while the wrapped class's
// destructor (which may still be stopping threads that run module code)
// runs.
class ModuleLockHolder {
public:
    ModuleLockHolder(const ModuleLockHolder&) = delete;
    ModuleLockHolder& operator=(const ModuleLockHolder&) = delete;

protected:
    ModuleLockHolder() noexcept { ModuleLock::acquire(); }
    ~ModuleLockHolder() { ModuleLock::release(); }
};
