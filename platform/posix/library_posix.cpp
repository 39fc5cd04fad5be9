// Shared libraries through the dynamic loader.
#include "platform/library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <vector>

namespace platform {

bool SharedLibrary::open(const std::filesystem::path& path, std::string& error) {
    // A name without a slash would be searched for on the library path;
    // the caller means this very file.
    const std::filesystem::path file = path.has_parent_path() ? path : std::filesystem::path(".") / path;
    return openByName(file.string(), error);
}

bool SharedLibrary::openByName(const std::string& fileName, std::string& error) {
    close();
    handle_ = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* reason = dlerror();
        error = reason ? reason : "the library could not be loaded";
        return false;
    }
    return true;
}

void* SharedLibrary::symbol(const char* name) const {
    return handle_ ? dlsym(handle_, name) : nullptr;
}

// Shared objects have no export numbers: the name is all there is.
void* SharedLibrary::function(const char* name, std::uint16_t) const { return symbol(name); }

void SharedLibrary::close() {
    if (handle_) dlclose(std::exchange(handle_, nullptr));
}

std::string sharedLibraryFileName(std::string_view baseName) {
    return std::string(baseName) + ".so";
}

const char* libraryFileNameHere(const LibraryFileNames& names) { return names.posix; }

std::filesystem::path executableDirectory() {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) return std::filesystem::current_path();
    return std::filesystem::path(std::string(buffer.data(), static_cast<std::size_t>(length))).parent_path();
}

} // namespace platform
