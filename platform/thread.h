// A thread that its owner can wait for with a limit, and whose body cannot
// end the process by throwing.
#pragma once

#include "platform/wait_limit.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace platform {

// Whatever the body throws is caught on the thread and kept for failure().
// The owner must make the body end (typically through a StopSignal the body
// waits on) before the object goes: the destructor joins without a limit,
// because a thread left running would go on using its owner's freed
// members. A body that never ends is the owner's bug; it shows here as a
// hang rather than as a crash somewhere later.
class JoinableThread {
public:
    JoinableThread() = default;
    // Starts `body` at once, as start() does.
    explicit JoinableThread(std::function<void()> body) { start(std::move(body)); }
    ~JoinableThread();
    JoinableThread(const JoinableThread&) = delete;
    JoinableThread& operator=(const JoinableThread&) = delete;

    // Runs `body` on a new thread, after joining (without a limit) the one
    // this object ran before. Throws std::system_error when the system
    // cannot make a thread.
    void start(std::function<void()> body);
    // Waits up to `limit` for the body to end. True when it has ended, and
    // the thread is then joined, or when no thread was started; false when
    // it still runs, and the object can be joined later.
    bool joinFor(std::chrono::milliseconds limit);
    // Started, and its body has not ended yet.
    bool isRunning() const;
    // The text of what the last body threw (what() of a std::exception),
    // or nothing when it has not thrown.
    std::optional<std::string> failure() const;

private:
    void run(const std::function<void()>& body) noexcept;

    mutable std::mutex lock_;
    std::condition_variable bodyEnded_;
    bool running_ = false;           // guarded by lock_
    std::exception_ptr escaped_;     // guarded by lock_
    std::thread thread_;
};

} // namespace platform
