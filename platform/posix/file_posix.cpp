// Files through the C library; POSIX opens never lock others out.
#include "platform/file.h"

#include <sys/stat.h>

namespace platform {

SharedFile openSharedForReading(const std::string& name) {
    SharedFile file(std::fopen(name.c_str(), "rb"));
    // fopen opens a folder for reading too; reads from it then fail.
    struct stat status {};
    if (file && (fstat(fileno(file.get()), &status) != 0 || !S_ISREG(status.st_mode))) file.reset();
    return file;
}

SharedFile createSharedForWriting(const std::string& name) {
    return SharedFile(std::fopen(name.c_str(), "wb"));
}

} // namespace platform
