// The user's interrupt key (Ctrl-C), delivered to an ordinary thread rather
// than in signal context, so the callback may take locks and call objects.
#pragma once

#include <functional>

namespace platform {

class InterruptWatch {
public:
    // From now on each Ctrl-C calls `onInterrupt` on a thread of the watch's
    // own; the program is no longer ended by it. One watch at a time.
    explicit InterruptWatch(std::function<void()> onInterrupt);
    // Restores the previous handling; no callback runs after this returns.
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;
};

} // namespace platform
