// The five calls of a VISA library (the VISA standard for instrument I/O)
// that the VISA link makes, bound when the link first needs them.
#pragma once

#include <cstdint>

namespace visa {

using Status = std::int32_t;   // 0 is success; the link treats anything else as failure
using Session = std::uint32_t; // a resource manager or instrument session

inline constexpr Status success = 0;

struct Functions {
    Status (*openDefaultRM)(Session* resourceManager);
    Status (*open)(Session resourceManager, const char* resource, std::uint32_t accessMode,
                   std::uint32_t openTimeout, Session* instrument);
    Status (*close)(Session session);
    Status (*read)(Session instrument, std::uint8_t* buffer, std::uint32_t count, std::uint32_t* countRead);
    Status (*write)(Session instrument, const std::uint8_t* data, std::uint32_t count, std::uint32_t* countWritten);
};

// The system's VISA library (visa64.dll on Windows, libvisa.so elsewhere),
// loaded on the first call and kept for the rest of the process. Null when
// it cannot be loaded or lacks one of the calls; the next call tries again,
// so that a library installed meanwhile is found.
const Functions* library();

} // namespace visa
