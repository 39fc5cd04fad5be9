#include "links/VISAComs.h"

#include "platform/text.h"

#include <algorithm>
#include <array>
#include <string>
#include <system_error>

VISAComs::VISAComs(ISerialClient* client) : ISerial(client) {}

VISAComs::~VISAComs() {
    close();
    stopReader(); // also when a session would not close
}

bool VISAComs::open(std::uint32_t parameterCount, const VARIANT* parameters) {
    if (opened_ || parameterCount != 1 || !parameters || parameters[0].vt != VT_BSTR) return false;
    const visa::Functions* visa = visa::library();
    if (!visa) return false;
    visa::Session resourceManager = 0;
    if (visa->openDefaultRM(&resourceManager) != visa::success) return false;
    const std::string resource = platform::narrowFromBstr(parameters[0].bstrVal);
    visa::Session instrument = 0;
    if (visa->open(resourceManager, resource.c_str(), 0, 0, &instrument) != visa::success) {
        visa->close(resourceManager);
        return false;
    }
    visa_ = visa;
    resourceManager_ = resourceManager;
    instrument_ = instrument;
    {
        const std::lock_guard lock(wakeLock_);
        queryPending_ = false;
        stopping_ = false;
    }
    try {
        reader_.start([this] { readAnswers(); });
    } catch (const std::system_error&) {
        // No thread to be had: give the sessions back.
        visa->close(instrument);
        visa->close(resourceManager);
        return false;
    }
    opened_ = true;
    // The first status change still shows the old name, the second the new.
    setOnline(true);
    setStatus("visa " + resource);
    return true;
}

bool VISAComs::close() {
    if (!opened_) return false;
    stopReader();
    if (visa_->close(instrument_) != visa::success) return false;
    if (visa_->close(resourceManager_) != visa::success) return false;
    opened_ = false;
    setOnline(false);
    return true;
}

bool VISAComs::isOpen() { return opened_; }

bool VISAComs::write(const std::uint8_t* data, std::uint32_t length) {
    if (!opened_) return false;
    const bool query = std::find(data, data + length, '?') != data + length;
    std::uint32_t written = 0;
    {
        const std::lock_guard lock(sessionLock_);
        while (written < length) {
            std::uint32_t count = 0;
            if (visa_->write(instrument_, data + written, length - written, &count) != visa::success) break;
            // A library that takes nothing yet reports success would keep
            // this loop going for ever: stop as if it had failed.
            if (count == 0) break;
            written += std::min(count, length - written);
        }
    }
    reportTransmitted(data, written);
    if (written < length) return false;
    if (query) {
        {
            const std::lock_guard lock(wakeLock_);
            queryPending_ = true;
        }
        wake_.notify_one();
    }
    return true;
}

bool VISAComs::waitForQuery() {
    std::unique_lock lock(wakeLock_);
    wake_.wait(lock, [this] { return queryPending_ || stopping_; });
    if (stopping_) return false;
    queryPending_ = false;
    return true;
}

bool VISAComs::stopRequested() {
    const std::lock_guard lock(wakeLock_);
    return stopping_;
}

void VISAComs::stopReader() {
    {
        const std::lock_guard lock(wakeLock_);
        stopping_ = true;
    }
    wake_.notify_one();
    reader_.joinFor(threadEndLimit);
}

void VISAComs::readAnswers() {
    while (waitForQuery()) readAnswer();
}

void VISAComs::readAnswer() {
    std::array<std::uint8_t, readSize + 1> buffer; // the answer and the line feed added to it
    // Each read may last the session's own I/O timeout: a stop between
    // attempts keeps close from waiting for all of them.
    for (int attempt = 0; attempt < readAttempts && !stopRequested(); ++attempt) {
        std::uint32_t count = 0;
        {
            const std::lock_guard lock(sessionLock_);
            if (visa_->read(instrument_, buffer.data(), readSize, &count) != visa::success) continue;
        }
        count = std::min(count, readSize);
        buffer[count] = '\n';
        // Outside the session lock: the client may send from this callback.
        deliverReceived(buffer.data(), count + 1);
        return;
    }
}
