// Runs scripts against the plug-in the way the Quillon host drives testers:
// CreateTester, SetHost, SetScriptDirectory and New for "new", ExecuteAction
// for each action, Delete for "delete"; and checks each step's result state
// and values against what the script expects.
#pragma once

#include "varnel/LogPrinter.h"
#include "varnel/Plugin.h"
#include "varnel/Progress.h"
#include "varnel/Script.h"
#include "varnel/Values.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
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
    std::string problem;               // why the step did not meet its expectation
    std::vector<std::string> log;      // every log line that arrived during the step
    double seconds = 0;
    std::string notRunReason;          // why a step that did not run was left out
    std::vector<std::string> context;  // the instance's recent log lines, when not met
};

// How a section (a test case, the setup or the teardown) ended.
enum class SectionResult { Passed, Failed, NotRun };

struct ScriptOutcome {
    const Script* script = nullptr;
    std::vector<StepOutcome> steps;
    double seconds = 0;

    std::size_t count(bool ran, bool met) const;
    bool allMet() const;
    SectionResult result(const Section& section) const;
    // The first step of the section that did not meet its expectation.
    const StepOutcome* firstNotMet(const Section& section) const;
};

// What a step looks like in the output and the report: 'link send "A" 42'.
std::string stepText(const Step& step);
// A section's name in the output and the report: the test case's name, or,
// for a script without test cases, its one step's line and text.
std::string sectionName(const Script& script, const Section& section);
// Its expectation as written, or empty for the default (passed, any values).
std::string expectationText(const Step& step);

class Runner {
public:
    // With `failFast`, the first test case that fails ends the run (the
    // teardown still runs).
    // A printer that shows status lines gets one for each waiting action.
    Runner(const Plugin& plugin, LogPrinter& printer, bool failFast = false);
    ~Runner();
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // Finds what a script names before anything runs: testers, instances and
    // actions. Throws ScriptError naming the file and line.
    void check(const Script& script) const;

    ScriptOutcome run(const Script& script);

    // The console's way: a script whose testers and stored values stay for
    // single steps run after it, until deleteKept. A kept tester whose "new"
    // was not as expected is deleted at once.
    ScriptOutcome runKeeping(const Script& script);
    // Checks one step against the kept testers (a ScriptError names what
    // is unknown), runs it in the folder given and keeps what it makes.
    StepOutcome runKept(const Step& step, const std::filesystem::path& directory,
                        const std::string& source = "console");
    void deleteKept();
    // "link (serial)" for each kept tester.
    std::vector<std::string> keptTesters() const;
    // Lets the next step run after an interrupt.
    void clearInterrupt();

    // The user's interrupt: aborts the running action and runs no further
    // steps. Callable from any thread. A tester's action clears its abort
    // flag when it starts, so an Abort that comes just before would be lost:
    // from the first interrupt on, the running action is aborted again every
    // 100 ms until it returns.
    void interrupt();
    bool interrupted() const { return interrupted_; }
    // Whether --fail-fast ended the run early.
    bool stoppedEarly() const { return stoppedEarly_; }

    // The values a step of the running (or last) script stored under `name`.
    const std::vector<ResultValue>* stored(const std::string& name) const;

private:
    struct Instance;
    struct Known {
        const TesterInfo* tester;
        int madeOn;
        int deletedOn;
    };

    void checkStep(const std::string& file, const Step& step, std::map<std::string, Known>& instances) const;
    ScriptOutcome runScript(const Script& script, std::vector<Instance>& instances);
    // Runs a step and prints its result (and, when not as expected, the
    // instance's last lines).
    void runReported(const Step& step, std::vector<Instance>& instances, const std::filesystem::path& directory,
                     StepOutcome& result);
    static void deleteAll(std::vector<Instance>& instances);
    void deleteFailedNew(std::vector<Instance>& instances);

    void runSection(const Script& script, const Section& section, std::vector<Instance>& instances,
                    ScriptOutcome& outcome, bool& setupFailed);
    void runStep(const Step& step, std::vector<Instance>& instances, const std::filesystem::path& directory,
                 StepOutcome& outcome);
    void runResolvedStep(const Step& step, const std::vector<Literal>& parameters, Instance* instance,
                         std::vector<Instance>& instances, const std::filesystem::path& directory,
                         StepOutcome& outcome, std::string& failure);
    // The literal values of terms, with stored values put in; empty
    // `problem` when all could be.
    std::vector<Literal> resolve(const std::vector<Term>& terms, std::string& problem) const;
    void setRunning(ITester* tester);
    void keepAborting();

    const Plugin& plugin_;
    LogPrinter& printer_;
    const bool failFast_;
    bool stoppedEarly_ = false;
    std::map<std::string, std::vector<ResultValue>> stored_;
    std::atomic<bool> interrupted_{false};
    std::mutex runningLock_;
    ITester* running_ = nullptr;     // the tester whose action runs now; guarded by runningLock_
    bool stopping_ = false;          // guarded by runningLock_
    std::condition_variable wakeAborter_;
    std::thread aborter_;            // started by the first interrupt
    std::unique_ptr<Progress> progress_; // on a terminal only
    std::vector<Instance> kept_;         // the console's testers
};
