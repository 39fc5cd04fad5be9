// The state block every tester owns.
#pragma once

#include "com/LineBstr.h"
#include "quillon/quillon.h"
#include "tester/ActionInfo.h"
#include "tester/LogLine.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
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
    // A counted reference, swapped under hostLock; read without the lock
    // only to see that there is none.
    std::atomic<ITesterHost*> host{nullptr};
    // The running action's thread and the counted host reference its frame
    // holds: that thread's log lines use it while it is still the host,
    // without the lock or a reference of their own. frameHost is written
    // by the action's thread and trusted by that thread only (the host runs
    // one action at a time per tester).
    std::atomic<std::thread::id> frameThread{};
    std::atomic<ITesterHost*> frameHost{nullptr};
    // The BSTR the frame's thread hands its log lines over in, and whether
    // a line is in it now (a host may log again from inside Log).
    LineBstr frameLine{logLineCapacity};
    bool frameLineBusy = false;
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
