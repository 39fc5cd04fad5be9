// A child command interpreter whose standard input, output and error are
// pipes: what is written becomes its input, and its output and error come
// back through one pipe, interleaved as it writes them. The child is the
// system's interpreter: "cmd /K" on Windows, "/bin/sh -i +m" elsewhere.
#pragma once

#include "platform/stop_signal.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <system_error>

namespace platform {

enum class ReadOutcome {
    Data,    // some bytes were read
    Ended,   // the child and every copy of its output have gone
    Stopped, // the stop signal was seen before any byte came
};

class ChildProcess {
public:
    ChildProcess();
    // Closes both pipes, then waits up to a second for the child to end and
    // ends it when it has not, so that no child outlives its owner unseen.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the interpreter; the pipe ends it uses are closed here as soon
    // as it has them, so that its exit ends the output. False with `error`
    // set when a pipe or the child cannot be made; nothing is then left
    // open. Only on an object that holds no child.
    bool start(std::error_code& error);

    // Writes all `length` bytes, blocking while the pipe is full. False when
    // the child's input is closed or broken; a broken pipe never raises a
    // signal.
    bool write(const std::uint8_t* data, std::size_t length);
    // Reads up to `capacity` bytes into `buffer`. Blocks until some come,
    // the output ends, or `stop` is signalled; on Windows a read already
    // blocked sees the stop only once cancelRead() is called.
    ReadOutcome read(std::uint8_t* buffer, std::size_t capacity, std::size_t& received, const StopSignal& stop);
    // After the stop signal: wakes a read blocked on another thread where
    // the signal alone does not (Windows). A call that comes just before the
    // read begins is lost, so the caller repeats it until the reader ends.
    void cancelRead();

    // Waits up to `limit` for the child to end and collects it; true when
    // it has ended, or when there is none.
    bool waitForExit(std::chrono::milliseconds limit);
    // Ends the child at once, the last resort for one that does not exit,
    // and the commands it runs with it.
    void terminate();
    // Closes this side's pipe ends; no read or write may be running then.
    void closePipes();

private:
    // What the destructor does, the same on every system.
    void endChild();
    // Where a blocked read cannot otherwise be woken, the reading thread,
    // for cancelRead().
    void rememberReaderThread();

    struct Native;
    std::unique_ptr<Native> native_;
};

} // namespace platform
