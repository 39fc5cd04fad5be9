// The test plug-in: 0 the echo tester; 1 a slot with no tester, as the
// plug-in has for a tester not built yet. The echo tester's actions serve
// the host's tests, one host behaviour each.
#include "com/ComObject.h"
#include "com/ComPtr.h"
#include "platform/text.h"
#include "plugin/Testers.h"
#include "tester/Parameters.h"
#include "tester/Tester.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

namespace {

enum Action : std::uint32_t { Echo, State, Log, Stubborn, Parse, Directory, LateInterrupt, DirectoryFound,
                              Farewell };

void sleepAWhile() { std::this_thread::sleep_for(std::chrono::milliseconds(10)); }

class EchoTester : public Tester {
public:
    EchoTester() : Tester("echo", "1.0", "Hands back what it is given") {
        setNewActionHelp("Sets up the echo tester", {"... any values; \"refuse\" first makes new fail"});
        addAction(Echo, "echo", "Returns its parameters as result values", {"..."}, {"VARIANT[] the parameters"});
        addAction(State, "state", "Returns the result state given", {"int state"}, {});
        addAction(Log, "log", "Logs a text at a level", {"int level", "string text"}, {});
        addAction(Stubborn, "stubborn", "Waits the whole time; Abort waits for it", {"int seconds"}, {});
        addAction(Parse, "parse", "Parses a text with the host's value parser", {"string text"}, {"VARIANT[] the values"});
        addAction(Directory, "directory", "Returns the script directory's last part", {}, {"string folder"});
        addAction(LateInterrupt, "lateInterrupt", "Raises SIGINT in the host before it starts; then waits until aborted",
                  {"int seconds"}, {});
        addAction(DirectoryFound, "directoryFound", "Whether the script directory names a folder", {}, {"bool found"});
        addAction(Farewell, "farewell", "Makes the tester's destructor log \"farewell\" to the host", {}, {});
    }

    ~EchoTester() override {
        if (!farewell_) return;
        try {
            log(LogLevel::Info, "farewell");
        } catch (...) {
            // A destructor gives up the line rather than throw.
        }
    }

    // "lateInterrupt": the host's Abort arrives before the frame clears the
    // abort flag, so that one is lost; only an Abort repeated while the
    // action runs ends it early.
    HRESULT STDMETHODCALLTYPE ExecuteAction(ULONG index, SAFEARRAY* parameters, SAFEARRAY** results,
                                            ULONG* result) override {
        if (index == LateInterrupt) {
            const int before = aborts_;
            std::raise(SIGINT);
            for (int i = 0; i < 1000 && aborts_ == before; ++i) sleepAWhile();
        }
        return Tester::ExecuteAction(index, parameters, results, result);
    }

    HRESULT STDMETHODCALLTYPE Abort() override {
        ++aborts_;
        // Like a tester stuck in a driver call: Abort blocks while "stubborn" runs.
        while (stubbornRunning_) sleepAWhile();
        return Tester::Abort();
    }

protected:
    bool onNew(std::uint32_t count, const VARIANT* parameters) override {
        return !(count > 0 && isText(parameters[0]) && textOf(parameters[0]) == "refuse");
    }

    ActionResult executeAction(std::uint32_t actionId, std::uint32_t count, const VARIANT* parameters) override {
        std::error_code error;
        switch (actionId) {
        case Echo:
            for (std::uint32_t i = 0; i < count; ++i) addResult(parameters[i]);
            return ActionResult::Passed;
        case State:
            return count == 1 && isInteger(parameters[0]) ? static_cast<ActionResult>(parameters[0].lVal)
                                                           : ActionResult::Error;
        case Log:
            if (count != 2 || !isInteger(parameters[0]) || !isText(parameters[1])) return ActionResult::Error;
            log(static_cast<LogLevel>(parameters[0].lVal), "%s", textOf(parameters[1]).c_str());
            return ActionResult::Passed;
        case LateInterrupt:
            return wait(count, parameters, true);
        case Stubborn: {
            stubbornRunning_ = true;
            const ActionResult state = wait(count, parameters, false);
            stubbornRunning_ = false;
            return state;
        }
        case Parse:
            return parse(count, parameters);
        case Directory:
            addResult(std::filesystem::path(scriptDirectory()).filename().string());
            return ActionResult::Passed;
        case DirectoryFound:
            addResult(std::filesystem::is_directory(std::filesystem::path(scriptDirectory()), error));
            return ActionResult::Passed;
        case Farewell:
            farewell_ = true;
            return ActionResult::Passed;
        default:
            return ActionResult::Error;
        }
    }

private:
    ActionResult wait(std::uint32_t count, const VARIANT* parameters, bool heedAbort) {
        if (count != 1 || !isInteger(parameters[0])) return ActionResult::Error;
        setTimeout(parameters[0].lVal);
        for (; !timedOut(); sleepAWhile())
            if (heedAbort && aborted()) return ActionResult::Aborted;
        return ActionResult::Failed;
    }

    ActionResult parse(std::uint32_t count, const VARIANT* parameters) {
        if (count != 1 || !isText(parameters[0])) return ActionResult::Error;
        ComPtr<IValueParser> parser;
        if (FAILED(CoCreateInstance(CLSID_ValueParser, nullptr, CLSCTX_INPROC_SERVER, IID_IValueParser,
                                    parser.putVoid())))
            return ActionResult::Error;
        SafeArray values;
        if (FAILED(parser->parse(parameters[0].bstrVal, values.put())) || !values.get()) return ActionResult::Failed;
        VARIANT* items = nullptr;
        if (SUCCEEDED(SafeArrayAccessData(values.get(), reinterpret_cast<void**>(&items)))) {
            for (std::uint32_t i = 0; i < elementCount(values.get()); ++i) addResult(items[i]);
            SafeArrayUnaccessData(values.get());
        }
        return ActionResult::Passed;
    }

    std::atomic<int> aborts_{0}; // Abort calls so far
    std::atomic<bool> stubbornRunning_{false};
    std::atomic<bool> farewell_{false}; // log "farewell" when destroyed
};

HRESULT makeEcho(ITester** tester) {
    return ComObject<EchoTester>::create(IID_ITester, reinterpret_cast<void**>(tester));
}

constexpr TesterMaker makers[] = {
    {"echo", makeEcho},
    {"missing", nullptr},
};

} // namespace

std::span<const TesterMaker> testerMakers() { return makers; }

void releaseTesterResources() {}
