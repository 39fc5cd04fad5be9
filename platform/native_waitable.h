// The operating system's object that a thread can block on until it is
// ready: a file descriptor here, the HANDLE of a waitable object (an event,
// an overlapped operation's event, a process) on Windows.
#pragma once

namespace platform {

#ifdef _WIN32
using NativeWaitable = void*;
// Events, processes and threads are invalid at NULL, not at INVALID_HANDLE_VALUE.
inline constexpr NativeWaitable invalidWaitable = nullptr;
#else
using NativeWaitable = int;
inline constexpr NativeWaitable invalidWaitable = -1;
#endif

} // namespace platform
