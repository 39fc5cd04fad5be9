// The part of the child process that does not depend on the system.
#include "platform/child_process.h"

namespace platform {

namespace {
// How long a child whose pipes have closed is given to end by itself.
constexpr std::chrono::milliseconds exitGrace{1000};
} // namespace

void ChildProcess::endChild() {
    closePipes();
    if (waitForExit(exitGrace)) return;
    terminate();
    waitForExit(exitGrace);
}

} // namespace platform
