// The user's interrupt key (Ctrl-C), delivered to an ordinary thread rather
// than in signal context, so the callback may take locks and call objects.
// A second Ctrl-C quits the process from the handler itself, so it works
// even while the first callback is stuck.
#pragma once

#include <functional>
#include <string>

namespace platform {

class InterruptWatch {
public:
    // From now on the first Ctrl-C calls `onInterrupt` on a thread of the
    // watch's own; the second writes `quitLine` to standard output and ends
    // the process with `quitStatus` at once. One watch at a time.
    InterruptWatch(std::function<void()> onInterrupt, std::string quitLine, int quitStatus);
    // Restores the previous handling; no callback runs after this returns.
    ~InterruptWatch();
    // Counts the next Ctrl-C as a first one again: an interactive program
    // calls it once an interrupt has been dealt with.
    void rearm();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;
};

} // namespace platform
