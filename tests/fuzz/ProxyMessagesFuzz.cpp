// The proxy message splitter over one received chunk, and the readers of
// the messages it gives.
#include "FuzzInput.h"
#include "proxy/ProxyMessages.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> chunk(data, data + size);
    for (const auto& message : proxy::splitUnits(chunk.data(), static_cast<std::uint32_t>(chunk.size()))) {
        if (message.find('\0') != std::string::npos) __builtin_trap();
        (void)proxy::remoteLogLine(message);
        (void)proxy::resultWord(message);
    }
    return 0;
}
