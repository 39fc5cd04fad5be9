// The child as /bin/sh on two pipes, started with posix_spawn. "-i" makes the
// shell prompt and go on after a failing command, as it does for a person at
// a terminal; "+m" turns job control off, which has no terminal here and
// would otherwise say so on every start. Standard error shares the output
// pipe, so prompts and error lines arrive among the output as written.
#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>

extern char** environ;

namespace platform {

namespace {

// A descriptor, invalid at -1, closed when it goes.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

struct Pipe {
    Descriptor readEnd, writeEnd;
};

// Both ends close on exec, so that no other child started meanwhile keeps a
// copy that would hold the output open.
bool makePipe(Pipe& pipe, std::error_code& error) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        error.assign(errno, std::generic_category());
        return false;
    }
    pipe.readEnd = Descriptor(ends[0]);
    pipe.writeEnd = Descriptor(ends[1]);
    return true;
}

// Spawn settings owned for the length of one spawn.
struct SpawnSettings {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSettings() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSettings() {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;
};

// SIGPIPE blocked on this thread for the length of one write; one that the
// write raised is taken back before the mask is restored, so it is never
// delivered. The process-wide disposition stays as the host set it.
class BrokenPipeSignalBlocked {
public:
    BrokenPipeSignalBlocked() {
        sigemptyset(&pipeSignal_);
        sigaddset(&pipeSignal_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeSignal_, &previous_);
    }
    ~BrokenPipeSignalBlocked() {
        if (raised_ && !alreadyPending_) {
            const timespec noWait{0, 0};
            while (sigtimedwait(&pipeSignal_, nullptr, &noWait) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    BrokenPipeSignalBlocked(const BrokenPipeSignalBlocked&) = delete;
    BrokenPipeSignalBlocked& operator=(const BrokenPipeSignalBlocked&) = delete;
    void noteBrokenPipe() { raised_ = true; }

private:
    sigset_t pipeSignal_;
    sigset_t previous_;
    bool alreadyPending_ = false;
    bool raised_ = false;
};

} // namespace

struct ChildProcess::Native {
    Descriptor input;  // the child's standard input, our end
    Descriptor output; // the child's standard output and error, our end
    pid_t pid = -1;    // -1 once collected
};

ChildProcess::ChildProcess() : native_(std::make_unique<Native>()) {}

ChildProcess::~ChildProcess() { endChild(); }

bool ChildProcess::start(std::error_code& error) {
    Pipe input, output;
    if (!makePipe(input, error) || !makePipe(output, error)) return false;

    SpawnSettings settings;
    posix_spawn_file_actions_adddup2(&settings.actions, input.readEnd.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&settings.actions, output.writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&settings.actions, output.writeEnd.get(), STDERR_FILENO);
    // The child starts with no signal blocked, a broken pipe ending it as
    // usual, and in a group of its own, so that the host's Ctrl-C is the
    // host's alone.
    sigset_t none, pipeSignal;
    sigemptyset(&none);
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    posix_spawnattr_setsigmask(&settings.attributes, &none);
    posix_spawnattr_setsigdefault(&settings.attributes, &pipeSignal);
    posix_spawnattr_setpgroup(&settings.attributes, 0);
    posix_spawnattr_setflags(&settings.attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    char shell[] = "/bin/sh", interactive[] = "-i", noJobControl[] = "+m";
    char* arguments[] = {shell, interactive, noJobControl, nullptr};
    pid_t pid = -1;
    const int failure = posix_spawn(&pid, shell, &settings.actions, &settings.attributes, arguments, environ);
    if (failure != 0) {
        error.assign(failure, std::generic_category());
        return false;
    }
    // The child's ends close here: its exit is then the end of the output.
    native_->pid = pid;
    native_->input = std::move(input.writeEnd);
    native_->output = std::move(output.readEnd);
    return true;
}

bool ChildProcess::write(const std::uint8_t* data, std::size_t length) {
    if (!native_->input.valid()) return false;
    BrokenPipeSignalBlocked blocked;
    while (length > 0) {
        const ssize_t written = ::write(native_->input.get(), data, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            if (errno == EPIPE) blocked.noteBrokenPipe();
            return false;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

ReadOutcome ChildProcess::read(std::uint8_t* buffer, std::size_t capacity, std::size_t& received,
                               const StopSignal& stop) {
    received = 0;
    for (;;) {
        const WaitResult ready = waitUntilReadyOrStopped(native_->output.get(), stop, platform::waitWithoutLimit);
        if (ready == WaitResult::Stopped) return ReadOutcome::Stopped;
        if (ready != WaitResult::Ready) return ReadOutcome::Ended;
        const ssize_t count = ::read(native_->output.get(), buffer, capacity);
        if (count > 0) {
            received = static_cast<std::size_t>(count);
            return ReadOutcome::Data;
        }
        if (count == 0 || errno != EINTR) return ReadOutcome::Ended;
    }
}

// The stop signal already wakes a read: poll() watches it beside the pipe.
void ChildProcess::cancelRead() {}
void ChildProcess::rememberReaderThread() {}

bool ChildProcess::waitForExit(std::chrono::milliseconds limit) {
    if (native_->pid < 0) return true;
    // A process descriptor becomes readable when the child ends, so the
    // wait is one bounded poll rather than a loop of sleeps.
    const Descriptor process(static_cast<int>(syscall(SYS_pidfd_open, native_->pid, 0)));
    if (process.valid()) {
        pollfd ended{process.get(), POLLIN, 0};
        int result;
        while ((result = poll(&ended, 1, static_cast<int>(std::min<long long>(limit.count(), INT_MAX)))) < 0 && errno == EINTR) {
        }
        if (result <= 0) return false;
    } else {
        // Without process descriptors only a child already gone is collected.
        if (waitpid(native_->pid, nullptr, WNOHANG) == 0) return false;
        native_->pid = -1;
        return true;
    }
    while (waitpid(native_->pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    native_->pid = -1;
    return true;
}

// SIGKILL, since an interactive shell ignores SIGTERM, to the child's whole
// process group: without job control the commands it runs are in that
// group too, and would otherwise live on.
void ChildProcess::terminate() {
    if (native_->pid > 0) kill(-native_->pid, SIGKILL);
}

void ChildProcess::closePipes() {
    native_->input.reset();
    native_->output.reset();
}

} // namespace platform
