#include "varnel/ProxyService.h"

#include "varnel/Values.h"

#include <nlohmann/json.hpp>

namespace {

// The worse of two result words, as the tester reads them: error, then
// failed, then warning, then passed.
int severity(ActionResult state) {
    switch (state) {
    case ActionResult::Passed: return 0;
    case ActionResult::Warning: return 1;
    case ActionResult::Failed: return 2;
    default: return 3; // error, and aborted
    }
}

const char* resultWord(int worst) {
    static const char* const words[] = {"passed", "warning", "failed", "error"};
    return words[worst];
}

nlohmann::json jsonOf(const ResultValue& value) {
    if (const auto* integer = std::get_if<std::int32_t>(&value)) return *integer;
    if (const auto* real = std::get_if<double>(&value)) return *real;
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* flag = std::get_if<bool>(&value)) return *flag;
    return nullptr;
}

} // namespace

ProxyService::ProxyService(Runner& runner, LogPrinter& printer, Definitions definitions,
                           std::filesystem::path directory)
    : runner_(runner), printer_(printer), definitions_(definitions), directory_(std::move(directory)),
      typed_(std::move(definitions), "script") {}

std::string ProxyService::runScript(const std::string& text, const LogSink& log) {
    const LogPrinter::Forwarding forwarding(printer_, [&log](const std::string& instance, ULONG level,
                                                              std::string_view line) {
        log(static_cast<unsigned>(level), instance + " " + std::string(line));
    });
    runner_.clearInterrupt();
    {
        const std::lock_guard guard(storedLock_);
        typed_.restartCount();
    }
    int worst = 0;
    std::size_t start = 0;
    while (start <= text.size() && !runner_.interrupted()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        std::optional<Step> step;
        try {
            const std::lock_guard guard(storedLock_);
            step = typed_.parse(line);
        } catch (const ScriptError& error) {
            log(static_cast<unsigned>(LogLevel::Error), error.what());
            worst = severity(ActionResult::Error);
            break;
        }
        if (!step) continue;
        StepOutcome outcome;
        try {
            outcome = runner_.runKept(*step, directory_, typed_.source());
        } catch (const ScriptError& error) {
            log(static_cast<unsigned>(LogLevel::Error), error.what());
            worst = severity(ActionResult::Error);
            break;
        }
        if (!outcome.ran || !outcome.met) {
            // A step that passed with other values than expected counts as failed.
            ActionResult state = outcome.ran ? outcome.state : ActionResult::Error;
            if (state == ActionResult::Passed) state = ActionResult::Failed;
            log(static_cast<unsigned>(LogLevel::Error),
                stepText(*step) + ": " + (outcome.ran ? outcome.problem : "not run: " + outcome.notRunReason));
            worst = std::max(worst, severity(state));
        }
    }
    return runner_.interrupted() ? "aborted" : resultWord(worst);
}

void ProxyService::abortScript() { runner_.interrupt(); }

std::string ProxyService::variable(const std::string& name) {
    const std::lock_guard guard(storedLock_);
    if (const std::vector<ResultValue>* values = runner_.stored(name)) {
        nlohmann::json array = nlohmann::json::array();
        for (const ResultValue& value : *values) array.push_back(jsonOf(value));
        return array.dump();
    }
    for (const auto& [defined, value] : definitions_)
        if (defined == name) return nlohmann::json(value).dump();
    return "no variable named '" + name + "'";
}

void ProxyService::forget() {
    runner_.interrupt();
    runner_.deleteKept();
    runner_.clearInterrupt();
    const std::lock_guard guard(storedLock_);
    typed_ = TypedLines(definitions_, "script");
}
