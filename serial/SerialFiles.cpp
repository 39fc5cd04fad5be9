// Whole files: "sendFile" streams one onto the link, "compareFile" checks
// the received bytes against one, and the received-data log file copies
// every received chunk into one.
#include "serial/Serial.h"

#include "platform/pause.h"
#include "tester/Parameters.h"

#include <algorithm>
#include <vector>
#include <cstring>

namespace {

// Files are sent in blocks of this size; no whole file is held.
constexpr std::size_t fileBlockSize = 1024;
// The file system is read this much at a time, so that a large file costs
// few system calls; its bytes still go out in blocks of fileBlockSize.
constexpr std::size_t fileReadAhead = 65536;

std::size_t readAhead(std::FILE* file, std::vector<std::uint8_t>& bytes) {
    bytes.resize(fileReadAhead);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    return bytes.size();
}

// Detaching the log file waits this long before the file is let go, so that
// a copy already running on the link's thread ends before the action does.
constexpr auto logFileDetachPause = std::chrono::milliseconds(100);

} // namespace

platform::SharedFile Serial::openNamedFile(std::uint32_t count, const VARIANT* parameters) {
    std::string name = formatParameters(count, parameters);
    platform::SharedFile file = platform::openSharedForReading(name);
    if (!file) {
        // Tried for absolute names too: the joined name then fails as well.
        name = scriptDirectory() + platform::pathSeparator + name;
        file = platform::openSharedForReading(name);
    }
    if (!file) {
        log(LogLevel::Error, "Could not file file %s", name.c_str());
        return nullptr;
    }
    log(LogLevel::Trace, "File %s opened", name.c_str());
    return file;
}

ActionResult Serial::sendFile(std::uint32_t count, const VARIANT* parameters) {
    const TimedParameters timed = leadingTimeout(count, parameters);
    const platform::SharedFile file = openNamedFile(timed.count, timed.parameters);
    if (!file) return ActionResult::Error;
    std::uint32_t target = transmittedCount_;
    setTimeout(timed.timeoutSeconds);
    std::vector<std::uint8_t> bytes;
    while (readAhead(file.get(), bytes) > 0) {
        for (std::size_t at = 0; at < bytes.size(); at += fileBlockSize) {
            const auto length = static_cast<std::uint32_t>(std::min(fileBlockSize, bytes.size() - at));
            target += length;
            if (!actionLink_->send(bytes.data() + at, length)) {
                log(LogLevel::Error, "Failed to send to serial line");
                return ActionResult::Failed;
            }
        }
    }
    return awaitTransmitted(target);
}

ActionResult Serial::compareFile(std::uint32_t count, const VARIANT* parameters) {
    const TimedParameters timed = leadingTimeout(count, parameters);
    const platform::SharedFile file = openNamedFile(timed.count, timed.parameters);
    if (!file) return ActionResult::Error;
    setTimeout(timed.timeoutSeconds);

    std::vector<std::uint8_t> block;
    std::size_t blockLength = 0;
    std::size_t blockPosition = 0;
    std::uint32_t filePosition = 0;
    const auto mismatch = [&] {
        log(LogLevel::Error, "Unexpected char received at file position %d", static_cast<int>(filePosition));
        return ActionResult::Failed;
    };
    // The deadline, the abort flag and the link are looked at once per run
    // of bytes compared, not per byte.
    while (!timedOut()) {
        if (aborted() || !linkOpen()) break;
        if (blockPosition == blockLength) {
            blockLength = readAhead(file.get(), block);
            blockPosition = 0;
            if (blockLength == 0) return ActionResult::Passed;
        }
        const std::span<const std::uint8_t> received = awaitBytes();
        if (received.empty()) {
            // The byte reader gives 0 for a wait that ended empty; only a
            // file byte of 0 matches it.
            if (block[blockPosition] != 0) return mismatch();
            ++blockPosition, ++filePosition;
            continue;
        }
        // Compares the unread bytes at hand against the rest of the block,
        // consuming exactly the bytes compared.
        const std::size_t length = std::min(blockLength - blockPosition, received.size());
        const auto fileBytes = block.begin() + static_cast<std::ptrdiff_t>(blockPosition);
        // Equal runs, the usual case, are settled by one block compare.
        const std::size_t same =
            std::memcmp(&*fileBytes, received.data(), length) == 0
                ? length
                : static_cast<std::size_t>(
                      std::mismatch(fileBytes, fileBytes + static_cast<std::ptrdiff_t>(length), received.begin()).first -
                      fileBytes);
        blockPosition += same, filePosition += static_cast<std::uint32_t>(same);
        consumeBytes(same);
        if (same < length) {
            consumeBytes(1); // the differing byte was read too
            return mismatch();
        }
    }
    return aborted() ? ActionResult::Aborted : ActionResult::Failed;
}

std::shared_ptr<ReceivedDataLog> Serial::currentLogFile() {
    const std::lock_guard guard(logFileLock_);
    return logFile_;
}

void Serial::detachLogFile() {
    std::shared_ptr<ReceivedDataLog> detached;
    {
        const std::lock_guard guard(logFileLock_);
        detached = std::move(logFile_);
    }
    platform::pause(logFileDetachPause);
    // Closing (and so flushing) happens as the last holder lets go: here,
    // unless a copy is still running.
}

ActionResult Serial::startLoggingToFile(std::uint32_t count, const VARIANT* parameters) {
    detachLogFile();
    if (count == 0 || !isText(parameters[0])) {
        log(LogLevel::Error, "Parameters to StartLoggingToFile incorrect");
        return ActionResult::Error;
    }
    std::uint32_t valuesUsed = 0;
    const std::string name = formatParameters(count, parameters, &valuesUsed);
    // A bool after the format's values chooses text mode; anything else there is ignored.
    const std::uint32_t modeIndex = 1 + valuesUsed;
    const bool textOnly = modeIndex < count && isBool(parameters[modeIndex]) && boolOf(parameters[modeIndex]);
    std::shared_ptr<ReceivedDataLog> file = ReceivedDataLog::create(name, textOnly);
    if (!file) {
        log(LogLevel::Error, "Error creating logfile%s", name.c_str());
        return ActionResult::Failed;
    }
    {
        const std::lock_guard guard(logFileLock_);
        logFile_ = std::move(file);
    }
    log(LogLevel::Trace, "Input will be logged to %s in %s mode", name.c_str(), textOnly ? "Text" : "Binary");
    return ActionResult::Passed;
}

ActionResult Serial::stopLoggingToFile() {
    detachLogFile();
    return ActionResult::Passed;
}
