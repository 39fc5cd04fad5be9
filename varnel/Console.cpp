#include "varnel/Console.h"

#include "varnel/Terminal.h"
#include "platform/interrupt.h"

#include <atomic>
#include <filesystem>

namespace {

constexpr int exitQuit = 130; // the second interrupt while a step is stuck

void printHelp(const Plugin& plugin, const Runner& runner, LogPrinter& printer) {
    std::string testers, made;
    for (const auto& tester : plugin.testers()) testers.append(testers.empty() ? "" : ", ").append(tester.name);
    for (const auto& instance : runner.keptTesters()) made.append(made.empty() ? "" : ", ").append(instance);
    printer.print("Instances: " + (made.empty() ? std::string("none") : made));
    printer.print("Testers: " + (testers.empty() ? std::string("none") : testers) +
                  " (make one: NAME new TESTER ...; their actions: varnel --list)");
    printer.print("Type a step as in a script (NAME = step stores its values); Ctrl-C aborts it, Ctrl-D quits.");
}

} // namespace

int runConsole(const Plugin& plugin, Runner& runner, LogPrinter& printer, const Definitions& definitions,
               const Script* setup) {
    LineInput input;
    std::atomic<bool> stepRunning{false};
    platform::InterruptWatch watch(
        [&] {
            if (stepRunning) {
                printer.print("Interrupted: aborting the running step (press Ctrl-C again to quit)");
                runner.interrupt();
            } else {
                input.interruptRead();
            }
        },
        "Interrupted again: quitting\n", exitQuit);

    TypedLines lines(definitions);
    std::filesystem::path directory = std::filesystem::current_path();
    if (setup) {
        stepRunning = true;
        const ScriptOutcome outcome = runner.runKeeping(*setup);
        stepRunning = false;
        printer.print(outcome.allMet() ? "The script ran as expected; its testers stay for the steps you type"
                                       : "The script was not all as expected; the testers it made stay");
        for (const Step& step : setup->steps)
            if (!step.storeAs.empty()) lines.knowStored(step.storeAs);
        directory = std::filesystem::absolute(setup->file).parent_path();
        runner.clearInterrupt();
        watch.rearm();
    }
    printer.print("Type help for help");

    for (;;) {
        std::string text;
        const LineInput::Got got = input.read("varnel> ", text);
        watch.rearm();
        if (got == LineInput::Got::End) break;
        if (got == LineInput::Got::Interrupted) {
            printer.print("");
            continue;
        }
        const std::size_t start = text.find_first_not_of(" \t");
        if (start != std::string::npos) input.remember(text);
        if (start != std::string::npos && text.substr(start, text.find_last_not_of(" \t") + 1 - start) == "help") {
            printHelp(plugin, runner, printer);
            continue;
        }
        try {
            const std::optional<Step> step = lines.parse(text);
            if (!step) continue;
            stepRunning = true;
            runner.runKept(*step, directory);
        } catch (const ScriptError& error) {
            printer.print(error.what());
        }
        stepRunning = false;
        runner.clearInterrupt();
        watch.rearm();
    }
    printer.print("");
    runner.deleteKept();
    return 0;
}
