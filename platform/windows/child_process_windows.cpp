// The child as "cmd /K" on two anonymous pipes, started hidden with
// CreateProcessW. Standard output and error are one pipe, so prompts and
// error lines arrive among the output as written.
//
// A synchronous ReadFile on an anonymous pipe is not woken by closing the
// handle it reads, nor by any event: it ends when data comes, when every
// write end has gone, or when CancelSynchronousIo names its thread. So the
// link's copy of the child's write end is closed as soon as the child has
// its own, the child's exit ends the read, and cancelRead() ends it even
// while a grandchild still holds the output open.
#include "platform/child_process.h"

#include <windows.h>

#include <mutex>
#include <utility>

namespace platform {

namespace {

// A kernel handle, invalid at `Invalid` (NULL for processes and threads,
// INVALID_HANDLE_VALUE for files and pipes), closed when it goes.
template <HANDLE (*Invalid)()>
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { reset(); }
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, Invalid())) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, Invalid());
        }
        return *this;
    }
    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != Invalid(); }
    void reset() {
        if (valid()) CloseHandle(handle_);
        handle_ = Invalid();
    }

private:
    HANDLE handle_ = Invalid();
};

HANDLE invalidFile() { return INVALID_HANDLE_VALUE; }
HANDLE invalidObject() { return nullptr; }
using PipeHandle = Handle<invalidFile>;
using ObjectHandle = Handle<invalidObject>;

struct Pipe {
    PipeHandle readEnd, writeEnd;
};

std::error_code lastError(DWORD code) { return {static_cast<int>(code), std::system_category()}; }

// The child's end is inherited; ours is not, so that neither this child nor
// any other started by the process holds a copy of it.
bool makePipe(Pipe& pipe, bool childReads, std::error_code& error) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        error = lastError(GetLastError());
        return false;
    }
    pipe.readEnd = PipeHandle(readEnd);
    pipe.writeEnd = PipeHandle(writeEnd);
    const HANDLE ours = childReads ? writeEnd : readEnd;
    if (!SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0)) {
        error = lastError(GetLastError());
        return false;
    }
    return true;
}

// Held from making the pipes until the child's ends are closed again: the
// child's ends are inheritable meanwhile, and a second child started by
// another link at that moment would inherit them too and hold this child's
// output open after it exits.
std::mutex startLock;

} // namespace

struct ChildProcess::Native {
    PipeHandle input;  // the child's standard input, our end
    PipeHandle output; // the child's standard output and error, our end
    ObjectHandle process;
    ObjectHandle job; // the child and what it starts, for terminate()
    std::mutex readerLock; // guards reader
    ObjectHandle reader;   // the thread that reads, once it has read
};

ChildProcess::ChildProcess() : native_(std::make_unique<Native>()) {}

ChildProcess::~ChildProcess() { endChild(); }

bool ChildProcess::start(std::error_code& error) {
    const std::lock_guard lock(startLock);
    Pipe input, output;
    if (!makePipe(input, true, error) || !makePipe(output, false, error)) return false;

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = input.readEnd.get();
    startup.hStdOutput = output.writeEnd.get();
    startup.hStdError = output.writeEnd.get();
    wchar_t commandLine[] = L"cmd /K"; // CreateProcessW may write into it
    ObjectHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job.valid()) {
        error = lastError(GetLastError());
        return false;
    }
    // Started suspended, so that it is in the job before it can start a
    // command of its own.
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &started)) {
        error = lastError(GetLastError());
        return false;
    }
    native_->process = ObjectHandle(started.hProcess);
    const ObjectHandle mainThread(started.hThread);
    // Without the job, terminate() ends only the child itself.
    if (AssignProcessToJobObject(job.get(), started.hProcess)) native_->job = std::move(job);
    ResumeThread(mainThread.get());
    // The child's ends close here: its exit is then the end of the output.
    native_->input = std::move(input.writeEnd);
    native_->output = std::move(output.readEnd);
    return true;
}

bool ChildProcess::write(const std::uint8_t* data, std::size_t length) {
    if (!native_->input.valid()) return false;
    while (length > 0) {
        const DWORD chunk = length > MAXDWORD ? MAXDWORD : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteFile(native_->input.get(), data, chunk, &written, nullptr)) return false;
        data += written;
        length -= written;
    }
    return true;
}

ReadOutcome ChildProcess::read(std::uint8_t* buffer, std::size_t capacity, std::size_t& received,
                               const StopSignal& stop) {
    received = 0;
    rememberReaderThread();
    const DWORD wanted = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
    for (;;) {
        if (stop.isSignalled()) return ReadOutcome::Stopped;
        DWORD count = 0;
        if (!ReadFile(native_->output.get(), buffer, wanted, &count, nullptr)) {
            // Cancelled reads go round to the stop check.
            if (GetLastError() == ERROR_OPERATION_ABORTED) continue;
            return ReadOutcome::Ended;
        }
        if (count > 0) {
            received = count;
            return ReadOutcome::Data;
        }
        // A zero-length write by the child reads as zero bytes, not as the end.
    }
}

void ChildProcess::rememberReaderThread() {
    const std::lock_guard lock(native_->readerLock);
    if (native_->reader.valid()) return;
    HANDLE self = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                        DUPLICATE_SAME_ACCESS))
        native_->reader = ObjectHandle(self);
}

void ChildProcess::cancelRead() {
    const std::lock_guard lock(native_->readerLock);
    if (native_->reader.valid()) CancelSynchronousIo(native_->reader.get());
}

bool ChildProcess::waitForExit(std::chrono::milliseconds limit) {
    if (!native_->process.valid()) return true;
    const auto wait = limit.count() >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(limit.count());
    if (WaitForSingleObject(native_->process.get(), wait) != WAIT_OBJECT_0) return false;
    native_->process.reset();
    return true;
}

// The whole job: commands the child runs would otherwise live on and keep
// its output open.
void ChildProcess::terminate() {
    if (native_->job.valid()) TerminateJobObject(native_->job.get(), 1);
    else if (native_->process.valid()) TerminateProcess(native_->process.get(), 1);
}

void ChildProcess::closePipes() {
    native_->input.reset();
    native_->output.reset();
}

} // namespace platform
