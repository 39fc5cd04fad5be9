// Loading a shared library at run time and finding its exported functions,
// and where the running program lives.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

class SharedLibrary {
public:
    SharedLibrary() = default;
    ~SharedLibrary() { close(); }
    SharedLibrary(SharedLibrary&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    SharedLibrary& operator=(SharedLibrary&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads the library; on failure returns false and `error` says why, in
    // the system's words.
    bool open(const std::filesystem::path& path, std::string& error);
    // Loads a library given by file name alone, from where the system looks
    // for one a program asks for by name: the program's folder, the system
    // folders and the path on Windows; the library path elsewhere.
    bool openByName(const std::string& fileName, std::string& error);
    // The exported function or variable of that name, or null.
    void* symbol(const char* name) const;
    // Where libraries number their exports (Windows), the function exported
    // at `ordinal`; elsewhere the one exported as `name`. Null when absent.
    void* function(const char* name, std::uint16_t ordinal) const;
    bool isOpen() const { return handle_ != nullptr; }
    // Unloads the library; what came from it must no longer be used.
    void close();
    // Leaves the library loaded for the rest of the process and forgets it.
    void keep() { handle_ = nullptr; }

private:
    void* handle_ = nullptr;
};

// The file name a library of this base name has here ("X.dll" or "X.so").
std::string sharedLibraryFileName(std::string_view baseName);

// A library whose file is named after each system's custom.
struct LibraryFileNames {
    const char* windows; // e.g. "name64.dll"
    const char* posix;   // e.g. "libname.so"
};
// The file name of that library on this system.
const char* libraryFileNameHere(const LibraryFileNames& names);

// The folder of the running program's executable file.
std::filesystem::path executableDirectory();

} // namespace platform
