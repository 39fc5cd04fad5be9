// Two serial port numbers joined to each other by a pseudo-terminal pair,
// for the RS-232 link's tests against real devices. pty-pair.sh makes the
// pair: socat's two ends, named <folder>/tty<first> and <folder>/tty<second>.
// Linux: each pair starts the script for a folder of its own, points the
// link's device pattern at that folder, and stops it when it goes.
// Windows (under Wine): the CTest fixture has already run the script and
// linked COM<first> and COM<second> to the ends in the test's prefix;
// VARNEL_TEST_COM_PAIR names the two numbers ("7,8").
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <filesystem>
#include <unistd.h>
#endif

class PtyPair {
public:
    std::uint32_t first = 1;
    std::uint32_t second = 2;

#ifdef _WIN32
    PtyPair() {
        const char* pair = std::getenv("VARNEL_TEST_COM_PAIR");
        if (!pair || std::sscanf(pair, "%u,%u", &first, &second) != 2) problem_ = "VARNEL_TEST_COM_PAIR is not set";
    }
#else
    PtyPair() {
        char folder[] = "/tmp/varnel-pty-XXXXXX";
        if (!mkdtemp(folder)) {
            problem_ = "cannot make a folder for the pair";
            return;
        }
        folder_ = folder;
        if (std::system(script("start").c_str()) != 0) {
            problem_ = "pty-pair.sh could not start socat";
            return;
        }
        setenv("VARNEL_SERIAL_DEVICE_PATTERN", (folder_ + "/tty%d").c_str(), 1);
    }
    ~PtyPair() {
        if (folder_.empty()) return;
        [[maybe_unused]] const int stopped = std::system(script("stop").c_str());
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    // The device that port `number` names while the pair lives.
    std::string end(std::uint32_t number) const { return folder_ + "/tty" + std::to_string(number); }
#endif
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // Empty when the pair is ready; else why it is not.
    const std::string& problem() const { return problem_; }

private:
    std::string problem_;
#ifndef _WIN32
    std::string script(const char* action) const {
        return "sh '" VARNEL_PTY_PAIR_SCRIPT "' " + std::string(action) + " '" + folder_ + "' " +
               std::to_string(first) + ' ' + std::to_string(second) + " >/dev/null";
    }
    std::string folder_;
#endif
};
