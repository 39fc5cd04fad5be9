// Waking a thread that is blocked, so that every link thread can be ended on
// request: a manual-reset stop signal, and the one wait that link threads
// block in, for "this descriptor or handle is ready, or stop, or time is up".
#pragma once

#include "platform/native_waitable.h"
#include "platform/wait_limit.h"

#include <atomic>
#include <chrono>

namespace platform {

// A manual-reset signal: once signalled it stays signalled, waking every
// waiter, until reset. Any thread may signal, reset, test and wait at once.
class StopSignal {
public:
    // Starts cleared. Throws std::system_error when the system cannot make
    // one (out of descriptors or handles).
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void signal();
    void reset();
    bool isSignalled() const;
    // Blocks until signalled or `limit` has passed; true when signalled.
    bool waitFor(std::chrono::milliseconds limit) const;

    // For backends that combine the signal with waits of their own.
    NativeWaitable native() const { return handle_; }

private:
    NativeWaitable handle_;
    // Mirrors the native signal, so that testing it costs no system call and
    // a thread that sees it set also sees what the signalling thread wrote
    // before (a happens-before edge that thread checkers can follow).
    std::atomic<bool> signalled_{false};
};

enum class WaitResult {
    Ready,    // the waitable is ready: the next I/O call on it does not block
    Stopped,  // the stop signal is signalled
    TimedOut,
    Failed,   // the waitable is invalid or was closed
};

enum class Readiness { Readable, Writable };

// Blocks until `waitable` is ready, `stop` is signalled or `limit` has
// passed. When the stop signal and the waitable are both ready the stop
// wins, so that a peer that never stops sending cannot keep a thread from
// ending. A descriptor at end of file or in error counts as ready: the
// following read or write reports it.
// On Windows a handle's readiness is its signalled state, which the caller
// arms for what it waits for (an overlapped operation, WSAEventSelect), and
// `readiness` is not used there.
WaitResult waitUntilReadyOrStopped(NativeWaitable waitable, const StopSignal& stop, std::chrono::milliseconds limit,
                                   Readiness readiness = Readiness::Readable);

} // namespace platform
