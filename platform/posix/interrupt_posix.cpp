// SIGINT through a self-pipe: the handler only writes one byte, and a
// thread of the watch reads it and runs the callback outside signal context.
#include "platform/interrupt.h"

#include <cassert>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

constexpr char interruptByte = 'i';
constexpr char stopByte = 'q';

struct WatchState {
    WatchState() = default;
    WatchState(const WatchState&) = delete;
    WatchState& operator=(const WatchState&) = delete;
    ~WatchState() {
        for (const int end : pipe)
            if (end >= 0) close(end);
    }

    int pipe[2] = {-1, -1};
    struct sigaction previous {};
    std::function<void()> onInterrupt;
    std::thread thread;
};

std::unique_ptr<WatchState> activeWatch;
volatile std::sig_atomic_t writeEnd = -1;

extern "C" void onSignal(int) {
    const int savedErrno = errno;
    const char byte = interruptByte;
    if (writeEnd >= 0) [[maybe_unused]] auto written = write(writeEnd, &byte, 1);
    errno = savedErrno;
}

void watchLoop(WatchState* state) {
    for (;;) {
        char byte = 0;
        const ssize_t got = read(state->pipe[0], &byte, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || byte == stopByte) return;
        state->onInterrupt();
    }
}

} // namespace

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt) {
    assert(!activeWatch && "one interrupt watch at a time");
    auto state = std::make_unique<WatchState>();
    state->onInterrupt = std::move(onInterrupt);
    if (pipe(state->pipe) != 0) return;
    fcntl(state->pipe[1], F_SETFL, fcntl(state->pipe[1], F_GETFL) | O_NONBLOCK);
    fcntl(state->pipe[0], F_SETFD, FD_CLOEXEC);
    fcntl(state->pipe[1], F_SETFD, FD_CLOEXEC);
    writeEnd = state->pipe[1];
    state->thread = std::thread(watchLoop, state.get());
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &state->previous);
    activeWatch = std::move(state);
}

InterruptWatch::~InterruptWatch() {
    if (!activeWatch) return;
    WatchState* state = activeWatch.get();
    sigaction(SIGINT, &state->previous, nullptr);
    const char byte = stopByte;
    while (write(state->pipe[1], &byte, 1) < 0 && errno == EINTR) {
    }
    state->thread.join();
    writeEnd = -1;
    activeWatch.reset();
}

} // namespace platform
