// Runs scripts against the plug-in the way the Quillon host drives testers:
// CreateTester, SetHost, SetScriptDirectory and New for "new", ExecuteAction
// for each action, Delete for "delete"; and checks each step's result state
// and values against what the script expects.
#pragma once

#include "varnel/LogPrinter.h"
#include "varnel/Plugin.h"
#include "varnel/Script.h"
#include "varnel/Values.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct StepOutcome {
    const Step* step = nullptr;
    bool ran = false;
    ActionResult state = ActionResult::Error;
    std::vector<ResultValue> values;
    bool met = false;
    std::string problem;           // why the step did not meet its expectation
    std::vector<std::string> log;  // every log line that arrived during the step
    double seconds = 0;
};

struct ScriptOutcome {
    const Script* script = nullptr;
    std::vector<StepOutcome> steps;
    double seconds = 0;

    std::size_t count(bool ran, bool met) const;
    bool allMet() const;
};

// What a step looks like in the output and the report: 'link send "A" 42'.
std::string stepText(const Step& step);
// Its expectation as written, or empty for the default (passed, any values).
std::string expectationText(const Step& step);

class Runner {
public:
    Runner(const Plugin& plugin, LogPrinter& printer) : plugin_(plugin), printer_(printer) {}
    ~Runner();
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // Finds what a script names before anything runs: testers, instances and
    // actions. Throws ScriptError naming the file and line.
    void check(const Script& script) const;

    ScriptOutcome run(const Script& script);

    // The user's interrupt: aborts the running action and runs no further
    // steps. Callable from any thread. A tester's action clears its abort
    // flag when it starts, so an Abort that comes just before would be lost:
    // from the first interrupt on, the running action is aborted again every
    // 100 ms until it returns.
    void interrupt();
    bool interrupted() const { return interrupted_; }

private:
    struct Instance;

    void runStep(const Step& step, std::vector<Instance>& instances, const std::filesystem::path& directory,
                 StepOutcome& outcome);
    void setRunning(ITester* tester);
    void keepAborting();

    const Plugin& plugin_;
    LogPrinter& printer_;
    std::atomic<bool> interrupted_{false};
    std::mutex runningLock_;
    ITester* running_ = nullptr;     // the tester whose action runs now; guarded by runningLock_
    bool stopping_ = false;          // guarded by runningLock_
    std::condition_variable wakeAborter_;
    std::thread aborter_;            // started by the first interrupt
};
