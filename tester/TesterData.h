// The state block every tester owns.
#pragma once

#include "quillon/quillon.h"
#include "tester/ActionInfo.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct TesterData {
    TesterData(std::string testerName, std::string testerVersion, std::string testerDescription)
        : name(std::move(testerName)), version(std::move(testerVersion)),
          description(std::move(testerDescription)) {}
    ~TesterData();
    TesterData(const TesterData&) = delete;
    TesterData& operator=(const TesterData&) = delete;

    // Clears every pending result value.
    void clearResults() noexcept;

    std::string scriptDirectory = ".";
    std::vector<ActionInfo> actions;
    std::mutex hostLock;         // guards host; never held across a call into the host
    ITesterHost* host = nullptr; // counted reference
    std::atomic<std::int32_t> deadline{0}; // clock tick the armed timeout ends at; 0 when none
    std::string name;
    std::string version;
    std::string description;
    std::string newActionDescription;
    std::atomic<bool> abortRequested{true}; // set by Abort, cleared at each action's start
    std::mutex lock; // guards statusText
    std::string statusText;
    std::vector<VARIANT> results; // each entry owns its value
    std::vector<std::string> newActionParameterLines;
};
