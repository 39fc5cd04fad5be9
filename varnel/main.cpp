// varnel: runs test scripts against the Varnel plug-in without the Quillon
// host, the way that host drives testers, one after another or several at
// once (-j); runs steps typed at a prompt (varnel console); and lists the
// testers' actions with their help.
//
// Exit status: 0 when every step met its expectation, 1 when one did not
// (or the run was interrupted or timed out), 2 for bad input: a script that
// cannot be read or run, a bad option, or a plug-in that cannot be loaded.
#include "varnel/Console.h"
#include "varnel/JUnitWriter.h"
#include "varnel/LogPrinter.h"
#include "varnel/Plugin.h"
#include "varnel/ProxyServer.h"
#include "varnel/ProxyService.h"
#include "varnel/Runner.h"
#include "varnel/Terminal.h"
#include "varnel/ValueParser.h"
#include "varnel/Watchdog.h"
#include "platform/interrupt.h"
#include "platform/library.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <exception>
#include <optional>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>

namespace {

constexpr int exitMet = 0;
constexpr int exitNotMet = 1;
constexpr int exitBadInput = 2;
constexpr int exitQuit = 130; // the second interrupt

struct Options {
    std::vector<std::string> scripts;
    std::string plugin;
    bool registry = false;
    bool list = false;
    std::string level = "trace";
    std::string junit;
    bool noTime = false;
    std::vector<std::string> defines;
    bool failFast = false;
    double timeoutSeconds = 0; // 0: no limit
    int jobs = 1;              // scripts run at once
    bool noProgress = false;
    bool console = false;
    std::string consoleScript; // run before the typed steps
    bool serve = false;
    std::string serveLink = "tcppkt";
    int servePort = -1; // -1: the link parameters are given as words
    std::vector<std::string> serveParameters;
    std::string serveKey;
};

// The link parameters of `varnel serve`: --port N, or words that are
// whole numbers (integers) or texts.
std::vector<Literal> serveParameters(const Options& options) {
    if (options.servePort >= 0) return {Literal(std::int32_t{options.servePort})};
    std::vector<Literal> parameters;
    for (const std::string& word : options.serveParameters) {
        const bool whole = !word.empty() && word.find_first_not_of("0123456789") == std::string::npos && word.size() < 10;
        parameters.push_back(whole ? Literal(static_cast<std::int32_t>(std::stol(word))) : Literal(word));
    }
    return parameters;
}

// `varnel serve`: the script proxy for a "ScriptProxy" tester elsewhere,
// until Ctrl-C.
int serve(const Options& options, const Plugin& plugin, LogPrinter& printer, const Definitions& definitions) {
    Runner runner(plugin, printer);
    ProxyService service(runner, printer, definitions, std::filesystem::current_path());
    ProxyServer server(service, [&printer](const std::string& text) { printer.print(text); });
    const std::vector<Literal> literals = serveParameters(options);
    const SafeArray parameters = variantArray(literals);
    VARIANT* values = nullptr;
    SafeArrayAccessData(parameters.get(), reinterpret_cast<void**>(&values));
    const bool started =
        server.start(options.serveLink, static_cast<std::uint32_t>(literals.size()), values, options.serveKey);
    SafeArrayUnaccessData(parameters.get());
    if (!started) return exitBadInput;
    platform::StopSignal stop;
    platform::InterruptWatch watch(
        [&] {
            printer.print("Interrupted: stopping (press Ctrl-C again to quit)");
            stop.signal();
        },
        "Interrupted again: quitting\n", exitQuit);
    server.serve(stop);
    printer.print("Stopped");
    return exitMet;
}

// A script run beside others: its own runner and testers, its output kept
// until it ends so that it prints in one piece.
struct ScriptJob {
    ScriptJob(const Plugin& plugin, int lowestRank, bool showTime, bool failFast)
        : printer(output, lowestRank, showTime), runner(plugin, printer, failFast) {}
    std::ostringstream output;
    LogPrinter printer;
    Runner runner;
};

// --define NAME=VALUE, each checked.
Definitions definitionsOf(const std::vector<std::string>& defines) {
    Definitions definitions;
    for (const auto& define : defines) {
        const std::size_t equals = define.find('=');
        const std::string name = define.substr(0, equals);
        bool isName = equals != std::string::npos && !name.empty() &&
                      (std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_');
        for (const char c : name)
            isName = isName && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-');
        if (!isName) throw ScriptError("varnel: --define needs NAME=VALUE with a name of letters, digits, _ . -; got '" +
                                       define + "'");
        for (auto& [known, value] : definitions)
            if (known == name) throw ScriptError("varnel: --define " + name + " is given twice");
        definitions.emplace_back(name, define.substr(equals + 1));
    }
    return definitions;
}

void writeReport(const std::string& file, const std::string& text) {
    std::ofstream report(file, std::ios::binary | std::ios::trunc);
    report << text;
    if (!report) std::cerr << "varnel: cannot write the JUnit report " << file << "\n";
}

void printHelpLines(std::ostream& out, const char* heading, const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    out << "      " << heading << "\n";
    for (const auto& line : lines) out << "        " << line << "\n";
}

void listTesters(const Plugin& plugin, std::ostream& out) {
    out << "Plug-in: " << plugin.origin() << "\n";
    for (const auto& tester : plugin.testers()) {
        out << "\nTester \"" << tester.name << "\" version " << tester.version << ": " << tester.description << "\n";
        out << "  new: " << tester.newDescription << "\n";
        printHelpLines(out, "parameters:", tester.newParameterLines);
        for (const auto& action : tester.actions) {
            out << "  " << action.name << ": " << action.description << "\n";
            printHelpLines(out, "parameters:", action.parameterLines);
            printHelpLines(out, "results:", action.resultLines);
        }
    }
    for (const auto& note : plugin.unavailable()) out << "\nNot available: " << note << "\n";
}

Plugin loadPlugin(const Options& options) {
    if (options.registry) return Plugin::loadRegistered();
    const std::filesystem::path file = options.plugin.empty()
                                           ? platform::executableDirectory() /
                                                 platform::sharedLibraryFileName("VarnelPlugin")
                                           : std::filesystem::path(options.plugin);
    return Plugin::loadFile(file);
}

void printSummary(LogPrinter& printer, const std::vector<ScriptOutcome>& outcomes, const std::string& ending) {
    std::size_t met = 0, notMet = 0, notRun = 0;
    std::size_t tests = 0, testsPassed = 0, testsFailed = 0, testsNotRun = 0;
    double seconds = 0;
    for (const auto& outcome : outcomes) {
        if (outcome.script->hasTestCases) {
            for (const Section& section : outcome.script->sections) {
                if (section.kind != Section::Test) continue;
                ++tests;
                switch (outcome.result(section)) {
                case SectionResult::Passed: ++testsPassed; break;
                case SectionResult::Failed: ++testsFailed; break;
                case SectionResult::NotRun: ++testsNotRun; break;
                }
            }
        }
        met += outcome.count(true, true);
        notMet += outcome.count(true, false);
        notRun += outcome.count(false, false);
        seconds += outcome.seconds;
        for (const auto& step : outcome.steps)
            if (step.ran && !step.met)
                printer.print("NOT AS EXPECTED " + outcome.script->file.generic_string() + ":" +
                              std::to_string(step.step->line) + ": " + stepText(*step.step) + ": " + step.problem);
    }
    char time[32];
    std::snprintf(time, sizeof time, "%.1f", seconds);
    if (tests > 0)
        printer.print("Test cases: " + std::to_string(tests) + ", " + std::to_string(testsPassed) + " passed, " +
                      std::to_string(testsFailed) + " failed, " + std::to_string(testsNotRun) + " not run");
    printer.print("Summary: " + std::to_string(met + notMet + notRun) + " steps, " + std::to_string(met) +
                  " as expected, " + std::to_string(notMet) + " not as expected, " + std::to_string(notRun) +
                  " not run" + ending + ", " + time + " s");
    printer.print(notMet == 0 && notRun == 0 && ending.empty() ? "PASSED" : "FAILED");
}

// Runs script i with jobs[i], up to `atOnce` at a time; each one's output is
// printed whole when it ends.
void runAtOnce(const std::vector<Script>& scripts, std::vector<std::unique_ptr<ScriptJob>>& jobs, std::size_t atOnce,
               LogPrinter& printer, std::vector<ScriptOutcome>& outcomes) {
    std::atomic<std::size_t> next{0};
    std::mutex failureLock;
    std::exception_ptr failure;
    const auto work = [&] {
        try {
            const ComRuntime com; // this thread's
            for (std::size_t i = next++; i < scripts.size(); i = next++) {
                outcomes[i] = jobs[i]->runner.run(scripts[i]);
                std::string text = jobs[i]->output.str();
                if (!text.empty() && text.back() == '\n') text.pop_back();
                printer.print(text);
            }
        } catch (...) {
            const std::lock_guard guard(failureLock);
            if (!failure) failure = std::current_exception();
        }
    };
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < std::min(atOnce, scripts.size()); ++i) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            break; // fewer at once
        }
    }
    if (workers.empty()) work();
    for (auto& worker : workers) worker.join();
    if (failure) std::rethrow_exception(failure);
}

int run(const Options& options) {
    const auto lowestRank = rankFromName(options.level);
    if (!lowestRank) {
        std::cerr << "varnel: unknown log level '" << options.level << "' (trace, info, warning, error or none)\n";
        return exitBadInput;
    }
    if (options.jobs < 1) {
        std::cerr << "varnel: -j needs a number of scripts to run at once of 1 or more, got " << options.jobs << "\n";
        return exitBadInput;
    }
    if (!options.list && !options.console && !options.serve && options.scripts.empty()) {
        std::cerr << "varnel: no script given (see varnel --help)\n";
        return exitBadInput;
    }

    // Everything a script names is checked before the first step runs.
    const Definitions definitions = definitionsOf(options.defines);
    std::vector<Script> scripts;
    for (const auto& file : options.scripts) scripts.push_back(readScript(file, definitions));

    ComRuntime com;
    ValueParserRegistration valueParser;
    Plugin plugin = loadPlugin(options);
    if (options.list) {
        listTesters(plugin, std::cout);
        if (scripts.empty()) return exitMet;
    }

    LogPrinter printer(std::cout, *lowestRank, !options.noTime);
    // A status line on a terminal only, never in files, pipes or CI logs;
    // scripts run at once print when each ends, so no status there either.
    if (standardOutputIsTerminal() && !options.noProgress && options.jobs == 1) printer.enableStatus();
    if (options.serve) return serve(options, plugin, printer, definitions);
    if (options.console) {
        Runner runner(plugin, printer, options.failFast);
        std::optional<Script> setup;
        if (!options.consoleScript.empty()) {
            setup = readScript(options.consoleScript, definitions);
            runner.check(*setup);
        }
        return runConsole(plugin, runner, printer, definitions, setup ? &*setup : nullptr);
    }
    std::vector<std::unique_ptr<ScriptJob>> jobs;
    std::vector<Runner*> runners;
    std::optional<Runner> single;
    if (options.jobs == 1) {
        runners.push_back(&single.emplace(plugin, printer, options.failFast));
    } else {
        for (std::size_t i = 0; i < scripts.size(); ++i) {
            jobs.push_back(std::make_unique<ScriptJob>(plugin, *lowestRank, !options.noTime, options.failFast));
            runners.push_back(&jobs.back()->runner);
        }
    }
    for (const auto& script : scripts) runners.front()->check(script);

    // A report that cannot be written is found out before anything runs.
    std::ofstream report;
    if (!options.junit.empty()) {
        report.open(options.junit, std::ios::binary | std::ios::trunc);
        if (!report) {
            std::cerr << "varnel: cannot write the JUnit report " << options.junit << "\n";
            return exitBadInput;
        }
    }

    const auto interruptAll = [&runners] {
        for (Runner* runner : runners) runner->interrupt();
    };
    platform::InterruptWatch watch(
        [&] {
            printer.print("Interrupted: aborting the running action (press Ctrl-C again to quit)");
            interruptAll();
        },
        "Interrupted again: quitting\n", exitQuit);

    std::optional<Watchdog> watchdog;
    if (options.timeoutSeconds > 0) {
        char limit[32];
        std::snprintf(limit, sizeof limit, "%g", options.timeoutSeconds);
        watchdog.emplace(
            std::chrono::milliseconds(static_cast<std::int64_t>(options.timeoutSeconds * 1000)),
            [&printer, &interruptAll, limit = std::string(limit)] {
                printer.print("Timed out: the run took more than " + limit + " s (--timeout); aborting the running action");
                interruptAll();
            },
            [&printer] {
                printer.print("The run did not end in the " + std::to_string(Watchdog::grace.count()) +
                              " s after the timeout: quitting");
                std::cout.flush();
                std::_Exit(exitNotMet);
            });
    }

    std::vector<ScriptOutcome> outcomes(scripts.size());
    if (single) {
        for (std::size_t i = 0; i < scripts.size(); ++i) outcomes[i] = single->run(scripts[i]);
    } else {
        runAtOnce(scripts, jobs, static_cast<std::size_t>(options.jobs), printer, outcomes);
    }
    const bool timedOut = watchdog && watchdog->fired();
    watchdog.reset();
    bool interrupted = false, stoppedEarly = false;
    for (const Runner* runner : runners) {
        interrupted = interrupted || runner->interrupted();
        stoppedEarly = stoppedEarly || runner->stoppedEarly();
    }
    const std::string ending = timedOut       ? " (timed out)"
                               : interrupted  ? " (interrupted)"
                               : stoppedEarly ? " (stopped at the first failing test case)"
                                              : "";
    printSummary(printer, outcomes, ending);

    if (report.is_open()) {
        report << junitReport(outcomes);
        report.close();
        if (!report) {
            std::cerr << "varnel: cannot write the JUnit report " << options.junit << "\n";
            return exitBadInput;
        }
    }
    if (interrupted) return exitNotMet;
    for (const auto& outcome : outcomes)
        if (!outcome.allMet()) return exitNotMet;
    return exitMet;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app("Runs Varnel test scripts against the plug-in, as the Quillon host would.", "varnel");
    app.allow_windows_style_options(false); // "/path/script" is a file, not an option
    app.add_option("scripts", options.scripts, "Script files to run, in order")->type_name("SCRIPT");
    app.add_option("-p,--plugin", options.plugin,
                   "The plug-in file (default: " + platform::sharedLibraryFileName("VarnelPlugin") +
                       " beside this program)")
        ->type_name("FILE");
    app.add_flag("--registry", options.registry,
                 "Make the creators registered under the host's TesterCreators key (Windows)");
    app.add_flag("-l,--list", options.list, "List the testers and their actions with every help line");
    app.add_option("--level", options.level, "Lowest log level shown: trace, info, warning, error or none")
        ->type_name("LEVEL")
        ->capture_default_str();
    app.add_option("--junit", options.junit, "Also write a JUnit XML report to this file")->type_name("FILE");
    app.add_flag("--no-time", options.noTime, "Log lines without the time of day");
    app.add_option("-D,--define", options.defines, "A value scripts use as ${NAME} (repeatable)")
        ->type_name("NAME=VALUE")
        ->allow_extra_args(false);
    app.add_flag("--fail-fast", options.failFast, "Stop at the first test case that fails (its teardown still runs)");
    app.add_option("--timeout", options.timeoutSeconds,
                   "Abort the run after this many seconds (exit status 1); quit 5 s later if it has not ended")
        ->type_name("SECONDS")
        ->check(CLI::Validator(
            [](std::string& text) {
                char* end = nullptr;
                const double value = std::strtod(text.c_str(), &end);
                return *end == '\0' && value > 0 && value < 1e9 ? std::string()
                                                                  : "needs a number of seconds above 0, got " + text;
            },
            "SECONDS"));
    app.add_option("-j,--jobs", options.jobs, "Run up to N scripts at once, each with its own testers")
        ->type_name("N");
    app.add_flag("--no-progress", options.noProgress, "No status line for a waiting step, even on a terminal");
    CLI::App* console = app.add_subcommand("console", "Type steps at a prompt and run each at once");
    console->add_option("script", options.consoleScript, "A script to run first; its testers stay")
        ->type_name("SCRIPT");
    console->fallthrough();
    CLI::App* server = app.add_subcommand("serve", "Serve as the script proxy of a ScriptProxy tester, until Ctrl-C");
    server->add_option("--link", options.serveLink, "The link kind to listen on (tcppkt, rs232pkt, udp, ...)")
        ->type_name("KIND")
        ->capture_default_str();
    server->add_option("--port", options.servePort, "The port to serve on (the link's one parameter)")->type_name("N");
    server->add_option("--key", options.serveKey, "The pass phrase both sides encrypt with")->type_name("PASS_PHRASE");
    server->add_option("parameters", options.serveParameters,
                       "The link's open parameters instead of --port (whole numbers and texts)")
        ->type_name("PARAMETER");
    server->fallthrough();
    app.set_version_flag("--version", "varnel 5.0");
    try {
        app.parse(argc, argv);
        options.console = console->parsed();
        options.serve = server->parsed();
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? exitMet : exitBadInput;
    }
    // A run that cannot start still leaves the report that was asked for,
    // with the reason as its one error.
    const auto failedToStart = [&](const std::string& file, int line, const std::string& message) {
        std::cerr << message << "\n";
        if (!options.junit.empty()) writeReport(options.junit, junitErrorReport(file, line, message));
        return exitBadInput;
    };
    try {
        return run(options);
    } catch (const ScriptError& error) {
        return failedToStart(error.file(), error.line(), error.what());
    } catch (const PluginError& error) {
        return failedToStart("", 0, std::string("varnel: ") + error.what());
    } catch (const std::exception& error) {
        return failedToStart("", 0, std::string("varnel: ") + error.what());
    }
}
