// A folder of the test's own under the system's temporary folder, removed
// with everything in it when the test ends.
#pragma once

#include "platform/file.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

class TempFolder {
public:
    TempFolder() {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        path_ = std::filesystem::temp_directory_path() / ("varnel-test-" + std::to_string(stamp));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The 8-bit name of a file in the folder, as a script would give it: with
    // forward slashes, which a format string leaves alone.
    std::string name(const std::string& file) const { return (path_ / file).generic_string(); }
    // The name the script-directory lookup makes of the folder and a file.
    std::string joined(const std::string& file) const { return path_.string() + platform::pathSeparator + file; }
    const std::filesystem::path& path() const { return path_; }

    void write(const std::string& file, const std::string& bytes) const {
        std::ofstream(path_ / file, std::ios::binary | std::ios::trunc) << bytes;
    }
    std::string read(const std::string& file) const {
        std::ifstream in(path_ / file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    std::filesystem::path path_;
};
