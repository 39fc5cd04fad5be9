// The status line of a waiting step on a terminal: which instance and
// action wait, and the seconds left when the action's first parameter is its
// time-out, else the seconds gone. Shown after the first second, refreshed
// every second, and replaced by the next line printed.
#pragma once

#include "varnel/LogPrinter.h"
#include "varnel/Plugin.h"
#include "varnel/Script.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The time-out in seconds a step's first parameter gives, when the action's
// first parameter line names one ("int timeOutSec=5").
std::optional<double> leadingTimeout(const ActionHelp& action, const std::vector<Literal>& parameters);

// "link waitfor: 12 s left", or "link wait: 3 s" without a time-out.
std::string progressText(const std::string& instance, const std::string& action, std::optional<double> limitSeconds,
                         double elapsedSeconds);

class Progress {
public:
    explicit Progress(LogPrinter& printer);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void begin(std::string instance, std::string action, std::optional<double> limitSeconds);
    void end();

private:
    void tick();

    LogPrinter& printer_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool stopping_ = false;
    bool active_ = false;
    unsigned generation_ = 0; // counts begins, so a tick never shows an earlier step
    std::string instance_, action_;
    std::optional<double> limit_;
    std::chrono::steady_clock::time_point start_;
    std::thread thread_;
};
