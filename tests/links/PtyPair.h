// Two serial port numbers joined to each other by a pseudo-terminal pair,
// for the RS-232 link's tests against real devices.
// Linux: the pair starts a socat child of its own whose two ends are named
// <folder>/tty<first> and <folder>/tty<second>, and points the link's
// device pattern at the folder; the child ends with the pair.
// Windows (under Wine): the CTest fixture pty-pair.sh has already started
// socat and linked COM<first> and COM<second> to its ends in the test's
// prefix; VARNEL_TEST_COM_PAIR names the two numbers ("7,8").
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
extern char** environ;
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
        const std::string firstEnd = end(first), secondEnd = end(second);
        const std::string a = "pty,raw,echo=0,link=" + firstEnd, b = "pty,raw,echo=0,link=" + secondEnd;
        const std::string log = folder_ + "/socat.log";
        char* const argv[] = {const_cast<char*>("socat"), const_cast<char*>("-d"), const_cast<char*>("-d"),
                              const_cast<char*>(a.c_str()), const_cast<char*>(b.c_str()), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int spawned = posix_spawnp(&socat_, "socat", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            socat_ = 0;
            problem_ = "cannot start socat";
            return;
        }
        // Ready once socat has set both terminals up and says it moves data
        // (the links appear before the terminals' settings are final).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!(std::filesystem::exists(firstEnd) && std::filesystem::exists(secondEnd) && logSays(log))) {
            if (std::chrono::steady_clock::now() > deadline) {
                problem_ = "socat made no terminals within 10 s";
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        setenv("VARNEL_SERIAL_DEVICE_PATTERN", (folder_ + "/tty%d").c_str(), 1);
    }
    ~PtyPair() {
        if (socat_ > 0) {
            kill(socat_, SIGTERM);
            waitpid(socat_, nullptr, 0);
        }
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    // The device that port `number` names while the pair lives.
    std::string end(std::uint32_t number) const { return folder_ + "/tty" + std::to_string(number); }
    const std::string& folder() const { return folder_; }
#endif
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // Empty when the pair is ready; else why it is not.
    const std::string& problem() const { return problem_; }

private:
    std::string problem_;
#ifndef _WIN32
    static bool logSays(const std::string& log) {
        std::ifstream in(log);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return text.find("starting data transfer loop") != std::string::npos;
    }

    std::string folder_;
    pid_t socat_ = 0;
#endif
};
