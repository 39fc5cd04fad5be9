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

std::string literalText(const Literal& value) {
    if (const auto* integer = std::get_if<std::int32_t>(&value)) return std::to_string(*integer);
    if (const auto* text = std::get_if<std::string>(&value)) return "\"" + *text + "\"";
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

// Texts are built by appending: GCC 12 warns falsely (-Wrestrict) about
// "literal" + temporary string when optimising.
std::string stepText(const Step& step) {
    std::string text = step.instance;
    text.append(" ").append(step.action);
    if (step.kind == StepKind::New) text.append(" ").append(step.testerName);
    for (const auto& parameter : step.parameters) text.append(" ").append(literalText(parameter));
    return text;
}

std::string expectationText(const Step& step) {
    if (step.expectedState == ActionResult::Passed && !step.expectedValues) return {};
    std::string text = "  expect";
    if (step.expectedState != ActionResult::Passed || !step.expectedValues)
        text.append(" ").append(stateName(step.expectedState));
    if (step.expectedValues) {
        text.append(" [");
        for (std::size_t i = 0; i < step.expectedValues->size(); ++i)
            text.append(i ? " " : "").append(literalText((*step.expectedValues)[i]));
        text.append("]");
    }
    return text;
}

void Runner::check(const Script& script) const {
    const std::string file = script.file.generic_string();
    struct Known {
        const TesterInfo* tester;
        int madeOn;
        int deletedOn;
    };
    std::map<std::string, Known> instances;
    for (const auto& step : script.steps) {
        const auto fail = [&](const std::string& message) { throw ScriptError(file, step.line, message); };
        auto found = instances.find(step.instance);
        if (step.kind == StepKind::New) {
            if (found != instances.end() && found->second.deletedOn == 0)
                fail("tester instance '" + step.instance + "' already exists (made on line " +
                     std::to_string(found->second.madeOn) + ")");
            const TesterInfo* tester = plugin_.find(step.testerName);
            if (!tester) {
                std::string offered;
                for (const auto& info : plugin_.testers()) offered += (offered.empty() ? "" : ", ") + info.name;
                fail("unknown tester '" + step.testerName + "' (the plug-in offers: " +
                     (offered.empty() ? "none" : offered) + ")");
            }
            instances[step.instance] = {tester, step.line, 0};
            continue;
        }
        if (found == instances.end())
            fail("unknown tester instance '" + step.instance + "' (make it first: " + step.instance +
                 " new TESTER ...)");
        if (found->second.deletedOn != 0)
            fail("tester instance '" + step.instance + "' was deleted on line " +
                 std::to_string(found->second.deletedOn));
        if (step.kind == StepKind::Delete) {
            found->second.deletedOn = step.line;
            continue;
        }
        const TesterInfo& tester = *found->second.tester;
        if (tester.actionIndex(step.action) < 0)
            fail("unknown action '" + step.action + "' for tester '" + tester.name + "' (its actions: " +
                 actionList(tester) + ")");
    }
}

Runner::~Runner() {
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
        if (running_ && !stopping_) running_->Abort();
    }
}

void Runner::runStep(const Step& step, std::vector<Instance>& instances, const std::filesystem::path& directory,
                     StepOutcome& outcome) {
    Instance* instance = nullptr;
    for (auto& candidate : instances)
        if (candidate.name == step.instance) instance = &candidate;

    outcome.ran = true;
    std::string failure; // the host call that failed, if one did
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
            SafeArray parameters = variantArray(step.parameters);
            VARIANT_BOOL ok = VARIANT_FALSE;
            hr = made.object->New(parameters.get(), &ok);
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
        instance->object.reset();
    } else {
        const int index = instance->tester->actionIndex(step.action);
        SafeArray parameters = variantArray(step.parameters);
        SafeArray results;
        ULONG state = static_cast<ULONG>(ActionResult::Error);
        setRunning(instance->object.get());
        const HRESULT hr =
            instance->object->ExecuteAction(static_cast<ULONG>(index), parameters.get(), results.put(), &state);
        setRunning(nullptr);
        if (FAILED(hr)) failure = "ExecuteAction failed (" + hresultText(hr) + ")";
        else outcome.state = static_cast<ActionResult>(state);
        outcome.values = resultValues(results.get());
    }
    if (step.kind == StepKind::Delete) {
        for (auto it = instances.begin(); it != instances.end(); ++it)
            if (it->name == step.instance) {
                instances.erase(it);
                break;
            }
    }

    outcome.met = failure.empty() && outcome.state == step.expectedState &&
                  (!step.expectedValues || matches(*step.expectedValues, outcome.values));
    if (!failure.empty()) {
        outcome.problem = failure;
    } else if (outcome.state != step.expectedState) {
        outcome.problem = "expected " + std::string(stateName(step.expectedState)) + ", got " +
                          std::string(stateName(outcome.state));
    } else if (!outcome.met) {
        outcome.problem = "expected values [" + describe(*step.expectedValues) + "], got [" +
                          describe(outcome.values) + "]";
    }
}

ScriptOutcome Runner::run(const Script& script) {
    using Clock = std::chrono::steady_clock;
    const auto scriptStart = Clock::now();
    ScriptOutcome outcome;
    outcome.script = &script;
    outcome.steps.resize(script.steps.size());
    const std::string file = script.file.generic_string();
    const std::filesystem::path directory = std::filesystem::absolute(script.file).parent_path();
    printer_.print("=== " + file);

    std::vector<Instance> instances;
    for (std::size_t i = 0; i < script.steps.size(); ++i) {
        const Step& step = script.steps[i];
        StepOutcome& result = outcome.steps[i];
        result.step = &step;
        if (interrupted_) continue;
        printer_.print("--- " + file + ":" + std::to_string(step.line) + ": " + stepText(step) + expectationText(step));
        const auto stepStart = Clock::now();
        printer_.startRecording();
        try {
            runStep(step, instances, directory, result);
        } catch (const std::bad_alloc&) {
            result.problem = "out of memory";
        }
        result.log = printer_.takeRecorded();
        result.seconds = std::chrono::duration<double>(Clock::now() - stepStart).count();
        std::string line = "    " + std::string(stateName(result.state));
        if (!result.values.empty()) line += " [" + describe(result.values) + "]";
        if (!result.met) line += "  NOT AS EXPECTED: " + result.problem;
        printer_.print(line);
    }
    // Testers the script left alive are deleted as the host does at the end.
    for (auto& instance : instances) {
        if (!instance.object) continue;
        VARIANT_BOOL ok = VARIANT_FALSE;
        instance.object->Delete(&ok);
    }
    instances.clear();
    outcome.seconds = std::chrono::duration<double>(Clock::now() - scriptStart).count();
    return outcome;
}
