// Dynamic-link libraries through the system loader.
#include "platform/library.h"

#include <windows.h>

#include <vector>

namespace platform {

namespace {

std::string systemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = "error " + std::to_string(code);
    if (length && text) {
        std::wstring wide(text, length);
        while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ')) wide.pop_back();
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                              nullptr, nullptr);
        std::string narrow(static_cast<std::size_t>(bytes), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), bytes, nullptr,
                            nullptr);
        message += ": " + narrow;
    }
    if (text) LocalFree(text);
    return message;
}

// Takes a freshly loaded module, or says why there is none.
bool tookModule(HMODULE module, void*& handle, std::string& error) {
    if (!module) {
        error = systemMessage(GetLastError());
        return false;
    }
    handle = module;
    return true;
}

} // namespace

bool SharedLibrary::open(const std::filesystem::path& path, std::string& error) {
    close();
    // The library's own folder is searched for the DLLs it needs, not the program's.
    return tookModule(LoadLibraryExW(std::filesystem::absolute(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH),
                      handle_, error);
}

bool SharedLibrary::openByName(const std::string& fileName, std::string& error) {
    close();
    // A bare file name makes the loader search its standard folders.
    return tookModule(LoadLibraryW(std::filesystem::path(fileName).c_str()), handle_, error);
}

void* SharedLibrary::symbol(const char* name) const {
    if (!handle_) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void* SharedLibrary::function(const char*, std::uint16_t ordinal) const {
    if (!handle_) return nullptr;
    // An ordinal goes where the name would, as a number below 0x10000.
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), MAKEINTRESOURCEA(ordinal)));
}

void SharedLibrary::close() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(std::exchange(handle_, nullptr)));
}

std::string sharedLibraryFileName(std::string_view baseName) {
    return std::string(baseName) + ".dll";
}

const char* libraryFileNameHere(const LibraryFileNames& names) { return names.windows; }

std::filesystem::path executableDirectory() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::filesystem::current_path();
        if (length < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), length)).parent_path();
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace platform
