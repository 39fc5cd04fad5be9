#include "com/ModuleLock.h"

#include <atomic>

namespace {
std::atomic<long> lockCount{0};
}

void ModuleLock::acquire() noexcept { lockCount.fetch_add(1); }
void ModuleLock::release() noexcept { lockCount.fetch_sub(1); }
long ModuleLock::count() noexcept { return lockCount.load(); }

std::mutex& ModuleLock::mutex() noexcept {
    static std::mutex moduleMutex;
    return moduleMutex;
}
