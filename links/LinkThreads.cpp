#include "links/LinkThreads.h"

#include <chrono>
#include <system_error>

namespace {
constexpr std::chrono::milliseconds threadEndLimit{10000};
} // namespace

bool LinkThreads::start(std::function<void()> reader, std::function<void()> writer) {
    stopSignal.reset();
    queue.restart();
    try {
        reader_.start(std::move(reader));
        writer_.start(std::move(writer));
    } catch (const std::system_error&) {
        stop(); // out of threads: whatever started ends again
        return false;
    }
    return true;
}

bool LinkThreads::stop() {
    stopSignal.signal();
    queue.stop();
    const bool readerEnded = reader_.joinFor(threadEndLimit);
    writer_.joinFor(threadEndLimit);
    queue.restart();
    return readerEnded;
}
