#include "platform/pause.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace platform {

namespace {
// Below zero: pauses keep their full length.
std::atomic<long long> shortenedMs{-1};
} // namespace

void pause(std::chrono::milliseconds length) {
    const long long shortened = shortenedMs.load(std::memory_order_relaxed);
    if (shortened >= 0) length = std::min(length, std::chrono::milliseconds(shortened));
    if (length.count() > 0) std::this_thread::sleep_for(length);
}

void shortenPauses(std::chrono::milliseconds length) { shortenedMs = length.count() < 0 ? 0 : length.count(); }

void restoreFullPauses() { shortenedMs = -1; }

} // namespace platform
