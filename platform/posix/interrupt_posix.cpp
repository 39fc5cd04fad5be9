// SIGINT through a self-pipe: the handler only writes one byte, and a
// thread of the watch reads it and runs the callback outside signal context.
// The handler counts the signals itself and quits on the second, using only
// async-signal-safe calls.
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
    std::string quitLine;
    int quitStatus = 0;
    std::function<void()> onInterrupt;
    std::thread thread;
};

std::unique_ptr<WatchState> activeWatch;
volatile std::sig_atomic_t writeEnd = -1;
volatile std::sig_atomic_t interruptCount = 0;
// Set before the handler is installed, read only by it.
const WatchState* signalState = nullptr;

extern "C" void onSignal(int) {
    const int savedErrno = errno;
    interruptCount = interruptCount + 1; // only this handler writes it, and SIGINT is held while it runs
    if (interruptCount >= 2 && signalState) {
        const std::string& line = signalState->quitLine;
        [[maybe_unused]] auto written = write(STDOUT_FILENO, line.data(), line.size());
        _exit(signalState->quitStatus);
    }
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

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt, std::string quitLine, int quitStatus) {
    assert(!activeWatch && "one interrupt watch at a time");
    auto state = std::make_unique<WatchState>();
    state->onInterrupt = std::move(onInterrupt);
    state->quitLine = std::move(quitLine);
    state->quitStatus = quitStatus;
    if (pipe(state->pipe) != 0) return;
    fcntl(state->pipe[1], F_SETFL, fcntl(state->pipe[1], F_GETFL) | O_NONBLOCK);
    fcntl(state->pipe[0], F_SETFD, FD_CLOEXEC);
    fcntl(state->pipe[1], F_SETFD, FD_CLOEXEC);
    writeEnd = state->pipe[1];
    interruptCount = 0;
    signalState = state.get();
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
    signalState = nullptr;
    activeWatch.reset();
}

void InterruptWatch::rearm() { interruptCount = 0; }

} // namespace platform
