// Files through the C runtime, opened explicitly with sharing for readers
// and writers; the names are in the ANSI code page, as the C runtime's
// narrow functions expect.
#include "platform/file.h"

#include <share.h>

namespace platform {

SharedFile openSharedForReading(const std::string& name) {
    return SharedFile(_fsopen(name.c_str(), "rb", _SH_DENYNO));
}

SharedFile createSharedForWriting(const std::string& name) {
    return SharedFile(_fsopen(name.c_str(), "wb", _SH_DENYNO));
}

} // namespace platform
