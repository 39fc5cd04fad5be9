#include "links/VISAComsLibrary.h"

#include "platform/library.h"

#include <mutex>
#include <string>

namespace visa {

namespace {

constexpr platform::LibraryFileNames fileNames{"visa64.dll", "libvisa.so"};

// Windows libraries are bound by their export numbers, others by name.
template <typename Function>
bool bind(const platform::SharedLibrary& library, Function& function, const char* name, std::uint16_t ordinal) {
    function = reinterpret_cast<Function>(library.function(name, ordinal));
    return function != nullptr;
}

bool load(Functions& functions) {
    platform::SharedLibrary library;
    std::string error;
    if (!library.openByName(platform::libraryFileNameHere(fileNames), error)) return false;
    const bool complete = bind(library, functions.openDefaultRM, "viOpenDefaultRM", 141) &&
                          bind(library, functions.open, "viOpen", 131) &&
                          bind(library, functions.close, "viClose", 132) &&
                          bind(library, functions.read, "viRead", 256) &&
                          bind(library, functions.write, "viWrite", 257);
    if (!complete) return false;
    // Sessions may outlive any one link, and unloading while the plug-in
    // itself is being unloaded is not allowed on Windows: keep it.
    library.keep();
    return true;
}

} // namespace

const Functions* library() {
    static std::mutex loadLock;
    static Functions functions{};
    static bool loaded = false; // guarded by loadLock; functions never change once set
    const std::lock_guard lock(loadLock);
    if (!loaded) loaded = load(functions);
    return loaded ? &functions : nullptr;
}

} // namespace visa
