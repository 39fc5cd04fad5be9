#include "serial/ReceivedDataLog.h"

#include "serial/ByteText.h"

namespace {

// Large enough that a stream of received chunks costs few writes.
constexpr std::size_t writeBufferSize = 64 * 1024;

} // namespace

std::shared_ptr<ReceivedDataLog> ReceivedDataLog::create(const std::string& name, bool textOnly) {
    platform::SharedFile file = platform::createSharedForWriting(name);
    if (!file) return nullptr;
    std::setvbuf(file.get(), nullptr, _IOFBF, writeBufferSize);
    return std::make_shared<ReceivedDataLog>(std::move(file), textOnly);
}

ReceivedDataLog::ReceivedDataLog(platform::SharedFile file, bool textOnly)
    : file_(std::move(file)), textOnly_(textOnly) {}

void ReceivedDataLog::copy(const std::uint8_t* data, std::uint32_t length) {
    if (!textOnly_) {
        std::fwrite(data, 1, length, file_.get());
        return;
    }
    text_.clear();
    const bool endedLine = appendLogText(text_, data, length, platform::lineEnd);
    std::fwrite(text_.data(), 1, text_.size(), file_.get());
    if (endedLine) std::fflush(file_.get());
}
