#include "varnel/Runner.h"

#include "com/UntypedDispatch.h"
#include "platform/text.h"

#include <chrono>
#include <map>
#include <system_error>

namespace {

// The host's log sink for one tester instance.
class InstanceLog final : public UntypedDispatch<ITesterHost, IID_ITesterHost> {
public:
    InstanceLog(std::string instance, LogPrinter& printer) : instance_(std::move(instance)), printer_(printer) {}

    HRESULT STDMETHODCALLTYPE Log(ULONG level, BSTR text) override {
        try {
            printer_.log(instance_, level, platform::narrowFromBstr(text));
            return S_OK;
        } catch (...) {
            return E_FAIL;
        }
    }

private:
    std::string instance_;
    LogPrinter& printer_;
};

std::string literalText(const Literal& value);

std::string referenceText(const StoredReference& reference) {
    std::string text = "${" + reference.name;
    if (reference.index) text += "[" + std::to_string(*reference.index) + "]";
    return text + "}";
}

std::string termText(const Term& term) {
    if (const auto* literal = std::get_if<Literal>(&term)) return literalText(*literal);
    if (const auto* reference = std::get_if<StoredReference>(&term)) return referenceText(*reference);
    std::string text = "\"";
    for (const auto& piece : std::get<TextTemplate>(term).pieces) {
        if (const auto* part = std::get_if<std::string>(&piece)) text += *part;
        else text += referenceText(std::get<StoredReference>(piece));
    }
    return text + "\"";
}

std::string literalText(const Literal& value) {
    if (const auto* integer = std::get_if<std::int32_t>(&value)) return std::to_string(*integer);
    if (const auto* text = std::get_if<std::string>(&value)) return "\"" + printableText(*text) + "\"";
    if (const auto* flag = std::get_if<bool>(&value)) return *flag ? "true" : "false";
    if (std::holds_alternative<AnyValue>(value)) return "*";
    const std::string described = describe(value); // "Double x"
    return described.substr(described.find(' ') + 1);
}

std::string actionList(const TesterInfo& tester) {
    std::string names;
    for (const auto& action : tester.actions) names += (names.empty() ? "" : ", ") + action.name;
    return names;
}

} // namespace

struct Runner::Instance {
    std::string name;
    const TesterInfo* tester = nullptr;
    ComPtr<ITester> object; // null when the creator refused to make it
    int failedNewLine = 0;  // the line of a "new" that was not as expected
};

std::size_t ScriptOutcome::count(bool ran, bool met) const {
    std::size_t n = 0;
    for (const auto& step : steps)
        if (step.ran == ran && (!ran || step.met == met)) ++n;
    return n;
}

bool ScriptOutcome::allMet() const {
    for (const auto& step : steps)
        if (!step.ran || !step.met) return false;
    return true;
}

SectionResult ScriptOutcome::result(const Section& section) const {
    bool ranAny = false;
    for (std::size_t i = section.first; i < section.first + section.count; ++i) {
        if (steps[i].ran && !steps[i].met) return SectionResult::Failed;
        ranAny = ranAny || steps[i].ran;
        // A step left out after its section had begun counts against it.
        if (!steps[i].ran && ranAny) return SectionResult::Failed;
    }
    if (!ranAny && section.count > 0) return SectionResult::NotRun;
    return SectionResult::Passed;
}

const StepOutcome* ScriptOutcome::firstNotMet(const Section& section) const {
    for (std::size_t i = section.first; i < section.first + section.count; ++i)
        if (steps[i].ran && !steps[i].met) return &steps[i];
    return nullptr;
}

std::string sectionName(const Script& script, const Section& section) {
    if (script.hasTestCases || section.count == 0) return section.name;
    const Step& step = script.steps[section.first];
    return "line " + std::to_string(step.line) + ": " + stepText(step);
}

// Texts are built by appending: GCC 12 warns falsely (-Wrestrict) about
// "literal" + temporary string when optimising.
std::string stepText(const Step& step) {
    std::string text = step.instance;
    text.append(" ").append(step.action);
    if (step.kind == StepKind::New) text.append(" ").append(step.testerName);
    for (const auto& parameter : step.parameters) text.append(" ").append(termText(parameter));
    return step.storeAs.empty() ? text : step.storeAs + " = " + text;
}

std::string expectationText(const Step& step) {
    if (step.expectedState == ActionResult::Passed && !step.expectedValues) return {};
    std::string text = "  expect";
    if (step.expectedState != ActionResult::Passed || !step.expectedValues)
        text.append(" ").append(stateName(step.expectedState));
    if (step.expectedValues) {
        text.append(" [");
        for (std::size_t i = 0; i < step.expectedValues->size(); ++i)
            text.append(i ? " " : "").append(termText((*step.expectedValues)[i]));
        text.append("]");
    }
    return text;
}

void Runner::check(const Script& script) const {
    std::map<std::string, Known> instances;
    for (const auto& step : script.steps) checkStep(script.file.generic_string(), step, instances);
}

void Runner::checkStep(const std::string& file, const Step& step, std::map<std::string, Known>& instances) const {
    const auto fail = [&](const std::string& message) { throw ScriptError(file, step.line, message); };
    auto found = instances.find(step.instance);
    if (step.kind == StepKind::New) {
        if (found != instances.end() && found->second.deletedOn == 0)
            fail("tester instance '" + step.instance + "' already exists" +
                 (found->second.madeOn ? " (made on line " + std::to_string(found->second.madeOn) + ")"
                                       : std::string(" (delete it first: " + step.instance + " delete)")));
        const TesterInfo* tester = plugin_.find(step.testerName);
        if (!tester) {
            std::string offered;
            for (const auto& info : plugin_.testers()) offered += (offered.empty() ? "" : ", ") + info.name;
            fail("unknown tester '" + step.testerName + "' (the plug-in offers: " +
                 (offered.empty() ? "none" : offered) + ")");
        }
        instances[step.instance] = {tester, step.line, 0};
        return;
    }
    if (found == instances.end())
        fail("unknown tester instance '" + step.instance + "' (make it first: " + step.instance +
             " new TESTER ...)");
    if (found->second.deletedOn != 0)
        fail("tester instance '" + step.instance + "' was deleted on line " + std::to_string(found->second.deletedOn));
    if (step.kind == StepKind::Delete) {
        found->second.deletedOn = step.line;
        return;
    }
    const TesterInfo& tester = *found->second.tester;
    if (tester.actionIndex(step.action) < 0)
        fail("unknown action '" + step.action + "' for tester '" + tester.name + "' (its actions: " +
             actionList(tester) + ")");
}

Runner::Runner(const Plugin& plugin, LogPrinter& printer, bool failFast)
    : plugin_(plugin), printer_(printer), failFast_(failFast) {
    if (printer.showsStatus()) progress_ = std::make_unique<Progress>(printer);
}

Runner::~Runner() {
    deleteAll(kept_);
    {
        std::lock_guard guard(runningLock_);
        stopping_ = true;
    }
    wakeAborter_.notify_all();
    if (aborter_.joinable()) aborter_.join();
}

void Runner::setRunning(ITester* tester) {
    std::lock_guard guard(runningLock_);
    running_ = tester;
    if (tester && interrupted_) tester->Abort();
}

// Abort never waits for the action, so it may be called under the lock.
void Runner::interrupt() {
    std::lock_guard guard(runningLock_);
    interrupted_ = true;
    if (running_) running_->Abort();
    if (aborter_.joinable() || stopping_) return;
    try {
        aborter_ = std::thread([this] { keepAborting(); });
    } catch (const std::system_error&) {
        // No thread to spare: the one Abort above has to do.
    }
}

void Runner::keepAborting() {
    std::unique_lock lock(runningLock_);
    while (!stopping_) {
        wakeAborter_.wait_for(lock, std::chrono::milliseconds(100));
        if (running_ && interrupted_ && !stopping_) running_->Abort();
    }
}

void Runner::clearInterrupt() {
    std::lock_guard guard(runningLock_);
    interrupted_ = false;
}

const std::vector<ResultValue>* Runner::stored(const std::string& name) const {
    const auto found = stored_.find(name);
    return found == stored_.end() ? nullptr : &found->second;
}

std::vector<Literal> Runner::resolve(const std::vector<Term>& terms, std::string& problem) const {
    std::vector<Literal> literals;
    // The values a reference stands for, or none with `problem` set.
    const auto valuesOf = [&](const StoredReference& reference) -> std::vector<ResultValue> {
        const std::vector<ResultValue>* values = stored(reference.name);
        if (!values) {
            problem = "${" + reference.name + "} holds nothing: the step that stores it did not run";
            return {};
        }
        if (!reference.index) return *values;
        if (*reference.index >= values->size()) {
            problem = "${" + reference.name + "[" + std::to_string(*reference.index) + "]}: ${" + reference.name +
                      "} holds " + std::to_string(values->size()) + " values";
            return {};
        }
        return {(*values)[*reference.index]};
    };
    for (const Term& term : terms) {
        if (const auto* literal = std::get_if<Literal>(&term)) {
            literals.push_back(*literal);
        } else if (const auto* reference = std::get_if<StoredReference>(&term)) {
            for (const ResultValue& value : valuesOf(*reference)) {
                if (const auto converted = literalOf(value)) literals.push_back(*converted);
                else problem = "${" + reference->name + "} holds a " + describe(value) + ", which a script cannot pass on";
            }
        } else {
            std::string text;
            for (const auto& piece : std::get<TextTemplate>(term).pieces) {
                if (const auto* part = std::get_if<std::string>(&piece)) {
                    text += *part;
                    continue;
                }
                const std::vector<ResultValue> values = valuesOf(std::get<StoredReference>(piece));
                for (std::size_t i = 0; i < values.size(); ++i) text.append(i ? " " : "").append(valueText(values[i]));
            }
            literals.emplace_back(std::move(text));
        }
        if (!problem.empty()) return {};
    }
    return literals;
}

void Runner::runStep(const Step& step, std::vector<Instance>& instances, const std::filesystem::path& directory,
                     StepOutcome& outcome) {
    Instance* instance = nullptr;
    for (auto& candidate : instances)
        if (candidate.name == step.instance) instance = &candidate;
    // Steps of an instance that could not be made are left out, with the reason.
    if (instance && instance->failedNewLine != 0) {
        outcome.notRunReason = "'" + step.instance + " new' on line " + std::to_string(instance->failedNewLine) +
                               " was not as expected";
        if (step.kind == StepKind::Delete) std::erase_if(instances, [&](const Instance& i) { return &i == instance; });
        return;
    }

    outcome.ran = true;
    std::string failure; // the host call that failed, if one did
    std::vector<Literal> parameters = resolve(step.parameters, failure);
    std::vector<Literal> expectedValues;
    if (failure.empty() && step.expectedValues) expectedValues = resolve(*step.expectedValues, failure);
    if (failure.empty()) runResolvedStep(step, parameters, instance, instances, directory, outcome, failure);
    if (failure.empty() && !step.storeAs.empty()) stored_[step.storeAs] = outcome.values;

    outcome.met = failure.empty() && outcome.state == step.expectedState &&
                  (!step.expectedValues || matches(expectedValues, outcome.values));
    if (!failure.empty()) {
        outcome.problem = failure;
    } else if (outcome.state != step.expectedState) {
        outcome.problem = "expected " + std::string(stateName(step.expectedState)) + ", got " +
                          std::string(stateName(outcome.state));
    } else if (!outcome.met) {
        outcome.problem = "expected values [" + describe(expectedValues) + "], got [" + describe(outcome.values) + "]";
    }
    if (step.kind == StepKind::New && !outcome.met) {
        for (auto& made : instances)
            if (made.name == step.instance) made.failedNewLine = step.line;
    }
}

void Runner::runResolvedStep(const Step& step, const std::vector<Literal>& parameters, Instance* instance,
                             std::vector<Instance>& instances, const std::filesystem::path& directory,
                             StepOutcome& outcome, std::string& failure) {
    if (step.kind == StepKind::New) {
        Instance made;
        made.name = step.instance;
        made.tester = plugin_.find(step.testerName);
        HRESULT hr = S_OK;
        made.object = plugin_.create(*made.tester, hr);
        if (made.object) {
            const auto sink = ComPtr<ITesterHost>::adopt(new InstanceLog(step.instance, printer_));
            made.object->SetHost(sink.get());
            Bstr folder(platform::bstrFromPath(directory));
            made.object->SetScriptDirectory(folder.get());
            SafeArray array = variantArray(parameters);
            VARIANT_BOOL ok = VARIANT_FALSE;
            hr = made.object->New(array.get(), &ok);
            if (FAILED(hr)) failure = "New failed (" + hresultText(hr) + ")";
            else outcome.state = ok == VARIANT_TRUE ? ActionResult::Passed : ActionResult::Failed;
        } else {
            failure = "the creator made no '" + step.testerName + "' tester (" + hresultText(hr) + ")";
        }
        instances.push_back(std::move(made));
    } else if (!instance->object) {
        failure = "tester instance '" + step.instance + "' was never made";
    } else if (step.kind == StepKind::Delete) {
        VARIANT_BOOL ok = VARIANT_FALSE;
        const HRESULT hr = instance->object->Delete(&ok);
        if (FAILED(hr)) failure = "Delete failed (" + hresultText(hr) + ")";
        else outcome.state = ok == VARIANT_TRUE ? ActionResult::Passed : ActionResult::Failed;
        std::erase_if(instances, [&](const Instance& i) { return &i == instance; });
    } else {
        const int index = instance->tester->actionIndex(step.action);
        SafeArray array = variantArray(parameters);
        SafeArray results;
        ULONG state = static_cast<ULONG>(ActionResult::Error);
        if (progress_)
            progress_->begin(step.instance, step.action, leadingTimeout(instance->tester->actions[index], parameters));
        setRunning(instance->object.get());
        const HRESULT hr =
            instance->object->ExecuteAction(static_cast<ULONG>(index), array.get(), results.put(), &state);
        setRunning(nullptr);
        if (progress_) progress_->end();
        if (FAILED(hr)) failure = "ExecuteAction failed (" + hresultText(hr) + ")";
        else outcome.state = static_cast<ActionResult>(state);
        outcome.values = resultValues(results.get());
    }
}

ScriptOutcome Runner::run(const Script& script) {
    std::vector<Instance> instances;
    ScriptOutcome outcome = runScript(script, instances);
    // Testers the script left alive are deleted as the host does at the end.
    deleteAll(instances);
    return outcome;
}

ScriptOutcome Runner::runKeeping(const Script& script) {
    deleteAll(kept_);
    ScriptOutcome outcome = runScript(script, kept_);
    deleteFailedNew(kept_);
    return outcome;
}

ScriptOutcome Runner::runScript(const Script& script, std::vector<Instance>& instances) {
    using Clock = std::chrono::steady_clock;
    const auto scriptStart = Clock::now();
    ScriptOutcome outcome;
    outcome.script = &script;
    outcome.steps.resize(script.steps.size());
    for (std::size_t i = 0; i < script.steps.size(); ++i) outcome.steps[i].step = &script.steps[i];
    printer_.print("=== " + script.file.generic_string());
    stored_.clear();

    bool setupFailed = false;
    for (const Section& section : script.sections) runSection(script, section, instances, outcome, setupFailed);
    outcome.seconds = std::chrono::duration<double>(Clock::now() - scriptStart).count();
    return outcome;
}

StepOutcome Runner::runKept(const Step& step, const std::filesystem::path& directory, const std::string& source) {
    std::map<std::string, Known> known;
    for (const Instance& instance : kept_) known[instance.name] = {instance.tester, 0, 0}; // lines of no file
    checkStep(source, step, known);
    StepOutcome result;
    result.step = &step;
    runReported(step, kept_, directory, result);
    deleteFailedNew(kept_);
    return result;
}

void Runner::deleteKept() { deleteAll(kept_); }

std::vector<std::string> Runner::keptTesters() const {
    std::vector<std::string> names;
    for (const Instance& instance : kept_) names.push_back(instance.name + " (" + instance.tester->name + ")");
    return names;
}

void Runner::deleteAll(std::vector<Instance>& instances) {
    for (auto& instance : instances) {
        if (!instance.object) continue;
        VARIANT_BOOL ok = VARIANT_FALSE;
        instance.object->Delete(&ok);
    }
    instances.clear();
}

// A console user retries a "new" that was not as expected under the same name.
void Runner::deleteFailedNew(std::vector<Instance>& instances) {
    std::vector<Instance> failed;
    for (auto& instance : instances)
        if (instance.failedNewLine != 0 || !instance.object) failed.push_back(std::move(instance));
    std::erase_if(instances, [](const Instance& i) { return i.failedNewLine != 0 || !i.object; });
    deleteAll(failed);
}

void Runner::runReported(const Step& step, std::vector<Instance>& instances, const std::filesystem::path& directory,
                         StepOutcome& result) {
    using Clock = std::chrono::steady_clock;
    const auto stepStart = Clock::now();
    printer_.startRecording();
    try {
        runStep(step, instances, directory, result);
    } catch (const std::bad_alloc&) {
        result.ran = true;
        result.problem = "out of memory";
    }
    result.log = printer_.takeRecorded();
    result.seconds = std::chrono::duration<double>(Clock::now() - stepStart).count();
    if (!result.ran) {
        printer_.print("    not run: " + result.notRunReason);
        return;
    }
    std::string line = "    " + std::string(stateName(result.state));
    if (!result.values.empty()) line += " [" + describe(result.values) + "]";
    if (!result.met) line += "  NOT AS EXPECTED: " + result.problem;
    printer_.print(line);
    if (result.met) return;
    // What the device actually sent is in the instance's last lines: shown
    // here when --level hid some, and kept for the report.
    result.context = printer_.recentLines(step.instance);
    if (!result.context.empty() && !printer_.showsEverything()) {
        printer_.print("    last log lines of '" + step.instance + "':");
        for (const auto& recent : result.context) printer_.print("      " + recent);
    }
}

void Runner::runSection(const Script& script, const Section& section, std::vector<Instance>& instances,
                        ScriptOutcome& outcome, bool& setupFailed) {
    const std::string file = script.file.generic_string();
    const std::filesystem::path directory = std::filesystem::absolute(script.file).parent_path();
    const bool isTest = section.kind == Section::Test;
    std::string leftOut; // why the whole section is left out
    if (isTest && setupFailed) leftOut = "the setup was not as expected";
    if (isTest && stoppedEarly_) leftOut = "an earlier test case failed (--fail-fast)";
    if (script.hasTestCases) {
        const std::string title = isTest ? "test \"" + section.name + "\"" : section.name;
        printer_.print("### " + title + (leftOut.empty() || interrupted_ ? "" : ": not run, " + leftOut));
    }
    int failedLine = 0;
    for (std::size_t i = section.first; i < section.first + section.count; ++i) {
        const Step& step = script.steps[i];
        StepOutcome& result = outcome.steps[i];
        if (interrupted_) {
            result.notRunReason = "the run was interrupted";
            continue;
        }
        if (!leftOut.empty()) {
            result.notRunReason = leftOut;
            continue;
        }
        // A step not as expected ends its test case (and the setup); the
        // teardown goes on, to clean up all it can.
        if (failedLine != 0 && section.kind != Section::Teardown) {
            result.notRunReason = "line " + std::to_string(failedLine) + " of this section was not as expected";
            continue;
        }
        printer_.print("--- " + file + ":" + std::to_string(step.line) + ": " + stepText(step) + expectationText(step));
        runReported(step, instances, directory, result);
        if (result.ran && !result.met) failedLine = step.line;
    }
    if (failedLine != 0 && section.kind == Section::Setup) setupFailed = true;
    if (failedLine != 0 && isTest && failFast_) stoppedEarly_ = true;
}
