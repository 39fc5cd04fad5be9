// Files that scripts name, opened so that other programs may read and
// write them meanwhile (a log file can be watched while it grows; a file
// being sent can still be edited). Names are the plug-in's 8-bit text.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
// Closing flushes what is still buffered.
using SharedFile = std::unique_ptr<std::FILE, FileCloser>;

// An existing regular file, for reading in binary; null when it cannot be
// opened (a folder cannot).
SharedFile openSharedForReading(const std::string& name);

// A new or truncated file, for writing in binary; null when it cannot be
// created.
SharedFile createSharedForWriting(const std::string& name);

// What joins a folder and a file name, and what ends a line in a text file.
#ifdef _WIN32
inline constexpr char pathSeparator = '\\';
inline constexpr std::string_view lineEnd = "\r\n";
#else
inline constexpr char pathSeparator = '/';
inline constexpr std::string_view lineEnd = "\n";
#endif

} // namespace platform
