#include "tests/plugin/EchoTester.h"

#include "platform/text.h"
#include "tester/Parameters.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

namespace {

enum Action : std::uint32_t { Echo, State, Log, Wait, Stubborn, Parse, Directory, LateInterrupt, DirectoryFound,
                              Farewell };

} // namespace

EchoTester::EchoTester() : Tester("echo", "1.0", "Hands back what it is given") {
    setNewActionHelp("Sets up the echo tester", {"... any values; \"refuse\" first makes new fail"});
    addAction(Echo, "echo", "Returns its parameters as result values", {"..."}, {"VARIANT[] the parameters"});
    addAction(State, "state", "Returns the result state given", {"int state"}, {});
    addAction(Log, "log", "Logs a text at a level", {"int level", "string text"}, {});
    addAction(Wait, "wait", "Waits until aborted or the time is up", {"int seconds"}, {});
    addAction(Stubborn, "stubborn", "Waits the whole time; Abort waits for it", {"int seconds"}, {});
    addAction(Parse, "parse", "Parses a text with the host's value parser", {"string text"}, {"VARIANT[] the values"});
    addAction(Directory, "directory", "Returns the script directory's last part", {}, {"string folder"});
    // Table position 7, as ExecuteAction below knows.
    addAction(LateInterrupt, "lateInterrupt", "Raises SIGINT in the host before it starts; then as 'wait'",
              {"int seconds"}, {});
    addAction(DirectoryFound, "directoryFound", "Whether the script directory names a folder", {}, {"bool found"});
    addAction(Farewell, "farewell", "Makes the tester's destructor log \"farewell\" to the host", {}, {});
}

EchoTester::~EchoTester() {
    if (!farewell_) return;
    try {
        log(LogLevel::Info, "farewell");
    } catch (...) {
        // A destructor gives up the line rather than throw.
    }
}

// "lateInterrupt": the host's Abort arrives before the frame clears the abort
// flag, so that one is lost; only an Abort repeated while the action runs
// ends it early.
HRESULT EchoTester::ExecuteAction(ULONG index, SAFEARRAY* parameters, SAFEARRAY** results, ULONG* result) {
    if (index == LateInterrupt) {
        const int before = aborts_;
        std::raise(SIGINT);
        for (int i = 0; i < 1000 && aborts_ == before; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Tester::ExecuteAction(index, parameters, results, result);
}

HRESULT EchoTester::Abort() {
    ++aborts_;
    // Like a tester stuck in a driver call: Abort blocks while "stubborn" runs.
    while (stubbornRunning_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return Tester::Abort();
}

bool EchoTester::onNew(std::uint32_t count, const VARIANT* parameters) {
    return !(count > 0 && isText(parameters[0]) && textOf(parameters[0]) == "refuse");
}

ActionResult EchoTester::executeAction(std::uint32_t actionId, std::uint32_t count, const VARIANT* parameters) {
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
    case Wait:
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
    case DirectoryFound: {
        std::error_code error;
        addResult(std::filesystem::is_directory(std::filesystem::path(scriptDirectory()), error));
        return ActionResult::Passed;
    }
    case Farewell:
        farewell_ = true;
        return ActionResult::Passed;
    default:
        return ActionResult::Error;
    }
}

ActionResult EchoTester::wait(std::uint32_t count, const VARIANT* parameters, bool heedAbort) {
    if (count != 1 || !isInteger(parameters[0])) return ActionResult::Error;
    setTimeout(parameters[0].lVal);
    while (!timedOut()) {
        if (heedAbort && aborted()) return ActionResult::Aborted;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ActionResult::Failed;
}

ActionResult EchoTester::parse(std::uint32_t count, const VARIANT* parameters) {
    if (count != 1 || !isText(parameters[0])) return ActionResult::Error;
    IValueParser* parser = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ValueParser, nullptr, CLSCTX_INPROC_SERVER, IID_IValueParser,
                                reinterpret_cast<void**>(&parser))) || !parser)
        return ActionResult::Error;
    SAFEARRAY* values = nullptr;
    const HRESULT hr = parser->parse(parameters[0].bstrVal, &values);
    parser->Release();
    if (FAILED(hr) || !values) return ActionResult::Failed;
    VARIANT* items = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(values, reinterpret_cast<void**>(&items)))) {
        for (std::uint32_t i = 0; i < elementCount(values); ++i) addResult(items[i]);
        SafeArrayUnaccessData(values);
    }
    SafeArrayDestroy(values);
    return ActionResult::Passed;
}
