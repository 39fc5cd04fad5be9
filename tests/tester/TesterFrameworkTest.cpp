// The action frame and the host interface of the tester framework, driven
// through ITester3 with a probe tester whose handlers each test sets.
#include "ProbeTester.h"

#include "../support/RecordingHost.h"
#include "../support/Variants.h"
#include "platform/clock.h"
#include "com/ComError.h"
#include "com/ModuleLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

namespace {

constexpr ULONG Sentinel = 0xDEADBEEF;
SAFEARRAY* const SentinelArray = reinterpret_cast<SAFEARRAY*>(static_cast<std::uintptr_t>(0x1234));

class TesterFrame : public testing::Test {
protected:
    void SetUp() override {
        tester = makeTester<ProbeTester>();
        ASSERT_NE(tester, nullptr);
        ASSERT_EQ(tester->SetHost(&host), S_OK);
        host.clear();
    }
    void TearDown() override {
        tester->SetHost(nullptr);
        tester->Release();
    }
    ProbeTester& probe() { return implementationOf<ProbeTester>(tester); }

    struct Outcome {
        HRESULT hr = S_OK;
        ULONG state = Sentinel;
        std::vector<Value> values;
        std::vector<VARTYPE> types;
        bool resultsNull = true;
    };

    Outcome execute(ULONG index, const ParameterArray& parameters) {
        Outcome outcome;
        SAFEARRAY* results = SentinelArray;
        outcome.hr = tester->ExecuteAction(index, parameters.get(), &results, &outcome.state);
        outcome.resultsNull = results == nullptr;
        if (results && results != SentinelArray) {
            EXPECT_EQ(results->cLocks, 0u);
            LONG lower = -1;
            SafeArrayGetLBound(results, 1, &lower);
            EXPECT_EQ(lower, 0);
            VARIANT* items = nullptr;
            SafeArrayAccessData(results, reinterpret_cast<void**>(&items));
            for (std::uint32_t i = 0; i < elementCount(results); ++i) {
                outcome.types.push_back(items[i].vt);
                Value copy;
                VariantCopy(&copy.get(), &items[i]);
                outcome.values.push_back(copy);
            }
            SafeArrayUnaccessData(results);
            SafeArrayDestroy(results);
        }
        return outcome;
    }

    Outcome execute(ULONG index) { return execute(index, ParameterArray{}); }

    RecordingHost host;
    ITester3* tester = nullptr;
};

TEST_F(TesterFrame, AnswersEveryTesterInterfaceWithOneTableAndErrorInfoApart) {
    void* unknown = nullptr;
    ASSERT_EQ(tester->QueryInterface(IID_IUnknown, &unknown), S_OK);
    void* errorInfo = nullptr;
    ASSERT_EQ(tester->QueryInterface(IID_ISupportErrorInfo, &errorInfo), S_OK);
    EXPECT_EQ(unknown, errorInfo);
    for (const IID* iid : {&IID_IDispatch, &IID_ITester, &IID_ITester1, &IID_ITester2, &IID_ITester3}) {
        void* table = nullptr;
        ASSERT_EQ(tester->QueryInterface(*iid, &table), S_OK);
        EXPECT_EQ(table, static_cast<void*>(tester));
        static_cast<IUnknown*>(table)->Release();
    }
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(tester->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    auto* support = static_cast<ISupportErrorInfo*>(errorInfo);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ITester), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ITester3), S_FALSE);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    support->Release();
    static_cast<IUnknown*>(unknown)->Release();
}

TEST_F(TesterFrame, NullOutPointersGiveEPointerAndChangeNothing) {
    ParameterArray none{};
    ULONG state = Sentinel;
    SAFEARRAY* results = SentinelArray;
    BSTR text = nullptr;
    SAFEARRAY* lines = nullptr;
    VARIANT_BOOL ok = 7;
    OLECHAR name[] = {'G', 'e', 't', 'N', 'a', 'm', 'e', 0};
    LPOLESTR names[] = {name};
    DISPID id = 0;
    const std::vector<std::pair<const char*, std::function<HRESULT()>>> calls = {
        {"GetActionCount", [&] { return tester->GetActionCount(nullptr); }},
        {"GetActionName", [&] { return tester->GetActionName(0, nullptr); }},
        {"ExecuteAction state", [&] { return tester->ExecuteAction(0, none.get(), &results, nullptr); }},
        {"ExecuteAction parameters", [&] { return tester->ExecuteAction(0, nullptr, &results, &state); }},
        {"ExecuteAction results", [&] { return tester->ExecuteAction(0, none.get(), nullptr, &state); }},
        {"GetActionInfo description", [&] { return tester->GetActionInfo(0, nullptr, &lines, &lines); }},
        {"GetActionInfo parameters", [&] { return tester->GetActionInfo(0, &text, nullptr, &lines); }},
        {"GetActionInfo results", [&] { return tester->GetActionInfo(0, &text, &lines, nullptr); }},
        {"New", [&] { return tester->New(none.get(), nullptr); }},
        {"Delete", [&] { return tester->Delete(nullptr); }},
        {"GetName", [&] { return tester->GetName(nullptr); }},
        {"GetStatus", [&] { return tester->GetStatus(nullptr); }},
        {"GetVersion", [&] { return tester->GetVersion(nullptr); }},
        {"GetDescription", [&] { return tester->GetDescription(nullptr); }},
        {"GetNewActionInfo description", [&] { return tester->GetNewActionInfo(nullptr, &lines); }},
        {"GetNewActionInfo lines", [&] { return tester->GetNewActionInfo(&text, nullptr); }},
        {"GetTesterFlags", [&] { return tester->GetTesterFlags(nullptr); }},
        {"GetChildTester", [&] { return tester->GetChildTester(0, nullptr); }},
        {"GetTypeInfoCount", [&] { return tester->GetTypeInfoCount(nullptr); }},
        {"GetTypeInfo", [&] { return tester->GetTypeInfo(0, 0, nullptr); }},
        {"GetIDsOfNames names", [&] { return tester->GetIDsOfNames(IID_IUnknown, nullptr, 1, 0, &id); }},
        {"GetIDsOfNames ids", [&] { return tester->GetIDsOfNames(IID_IUnknown, names, 1, 0, nullptr); }},
    };
    for (const auto& [method, call] : calls) EXPECT_EQ(call(), E_POINTER) << method;
    EXPECT_EQ(state, Sentinel);
    EXPECT_EQ(results, SentinelArray);
    EXPECT_EQ(ok, 7);
    EXPECT_EQ(probe().newCount, 0xFFFFFFFFu);
    EXPECT_TRUE(host.snapshot().empty());
}

TEST_F(TesterFrame, PositionBeyondTheTableIsInvalidArgument) {
    BSTR text = nullptr;
    SAFEARRAY* parameterLines = SentinelArray;
    SAFEARRAY* resultLines = SentinelArray;
    EXPECT_EQ(tester->GetActionName(3, &text), E_INVALIDARG);
    EXPECT_EQ(tester->GetActionInfo(3, &text, &parameterLines, &resultLines), E_INVALIDARG);
    EXPECT_EQ(text, nullptr);

    const Outcome outcome = execute(3);
    EXPECT_EQ(outcome.hr, E_INVALIDARG);
    EXPECT_EQ(outcome.state, static_cast<ULONG>(ActionResult::Error));
    EXPECT_TRUE(outcome.resultsNull);
    EXPECT_TRUE(host.snapshot().empty()) << "no start line for an unknown position";
}

TEST(TesterWithoutActions, CountsNoActions) {
    ITester3* tester = makeTester<EmptyTester>();
    ASSERT_NE(tester, nullptr);
    ULONG count = Sentinel;
    EXPECT_EQ(tester->GetActionCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    BSTR name = nullptr;
    EXPECT_EQ(tester->GetActionName(0, &name), E_INVALIDARG);
    BSTR description = nullptr;
    SAFEARRAY* lines = SentinelArray;
    EXPECT_EQ(tester->GetNewActionInfo(&description, &lines), S_OK);
    EXPECT_EQ(textOf(description), "");
    EXPECT_EQ(lines, nullptr) << "an empty list is a null array";
    SysFreeString(description);
    tester->Release();
}

TEST_F(TesterFrame, ReportsIdentityAndHelpTexts) {
    ULONG count = 0;
    EXPECT_EQ(tester->GetActionCount(&count), S_OK);
    EXPECT_EQ(count, 3u);

    const std::vector<std::pair<HRESULT (ITester3::*)(BSTR*), std::string>> texts = {
        {&ITester3::GetName, "probe"}, {&ITester3::GetVersion, "1.2"}, {&ITester3::GetDescription, "A tester for tests"}};
    for (const auto& [method, expected] : texts) {
        BSTR text = nullptr;
        EXPECT_EQ((tester->*method)(&text), S_OK);
        EXPECT_EQ(textOf(text), expected);
        SysFreeString(text);
    }

    BSTR name = nullptr;
    EXPECT_EQ(tester->GetActionName(1, &name), S_OK);
    EXPECT_EQ(textOf(name), "values");
    SysFreeString(name);

    expectDescriptionOnly(tester, 0, "No parameters, no results");

    BSTR description = nullptr;
    SAFEARRAY* parameterLines = nullptr;
    SAFEARRAY* resultLines = nullptr;
    EXPECT_EQ(tester->GetActionInfo(1, &description, &parameterLines, &resultLines), S_OK);
    EXPECT_EQ(textsOf(parameterLines), (std::vector<std::string>{"int count", "    string text"}));
    EXPECT_EQ(textsOf(resultLines), (std::vector<std::string>{"VARIANT[] values"}));
    LONG lower = -1;
    SafeArrayGetLBound(parameterLines, 1, &lower);
    EXPECT_EQ(lower, 0);
    SysFreeString(description);
    SafeArrayDestroy(parameterLines);
    SafeArrayDestroy(resultLines);

    SAFEARRAY* newLines = nullptr;
    EXPECT_EQ(tester->GetNewActionInfo(&description, &newLines), S_OK);
    EXPECT_EQ(textOf(description), "Set up the probe");
    EXPECT_EQ(textsOf(newLines), (std::vector<std::string>{"string kind", "    int option"}));
    SysFreeString(description);
    SafeArrayDestroy(newLines);

    expectNoFlagsAndNoChildTesters(tester);
}

TEST_F(TesterFrame, HandsTheRegisteredIdAndTheParametersToTheHandler) {
    ParameterArray parameters{Value(5), Value("text")};
    ULONG locksDuringHandler = 0;
    probe().handlers[7] = [&](ProbeTester&, std::uint32_t count, const VARIANT* values) {
        locksDuringHandler = parameters.get()->cLocks;
        EXPECT_EQ(count, 2u);
        EXPECT_EQ(values[0].lVal, 5);
        EXPECT_EQ(textOf(values[1]), "text");
        return ActionResult::Warning;
    };
    const Outcome outcome = execute(1, parameters);
    EXPECT_EQ(outcome.hr, S_OK);
    EXPECT_EQ(outcome.state, static_cast<ULONG>(ActionResult::Warning));
    EXPECT_EQ(probe().lastActionId, 7u);
    EXPECT_EQ(locksDuringHandler, 1u);
    EXPECT_EQ(parameters.get()->cLocks, 0u);
    EXPECT_TRUE(outcome.resultsNull);

    const auto lines = host.snapshot();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "Action values start");
    EXPECT_EQ(lines[0].level, static_cast<ULONG>(LogLevel::Trace));

    // Position 2 repeats a name but carries its own id; unhandled ids give Error.
    EXPECT_EQ(execute(2).state, static_cast<ULONG>(ActionResult::Error));
    EXPECT_EQ(probe().lastActionId, 3u);
}

TEST_F(TesterFrame, MovesResultValuesToTheHostInOrderAndStartsTheNextActionClean) {
    probe().handlers[7] = [](ProbeTester& p, std::uint32_t, const VARIANT*) {
        p.addResult(1.5);
        p.addResult(2.5);
        p.addResult(std::string("three"));
        return ActionResult::Passed;
    };
    const Outcome outcome = execute(1);
    EXPECT_EQ(outcome.state, static_cast<ULONG>(ActionResult::Passed));
    ASSERT_EQ(outcome.types, (std::vector<VARTYPE>{VT_R8, VT_R8, VT_BSTR}));
    EXPECT_EQ(outcome.values[0].get().dblVal, 1.5);
    EXPECT_EQ(outcome.values[1].get().dblVal, 2.5);
    EXPECT_EQ(textOf(outcome.values[2].get()), "three");

    probe().handlers[0] = [](ProbeTester&, std::uint32_t, const VARIANT*) { return ActionResult::Passed; };
    EXPECT_TRUE(execute(0).resultsNull);
}

TEST_F(TesterFrame, TurnsThrownFailuresIntoFailedWithTheirLogLines) {
    struct Case {
        std::function<void()> thrower;
        std::string line;
    };
    const std::vector<Case> cases = {
        {[] { throw ComError(E_INVALIDARG); }, "COM Exception during Action values 80070057 (null)"},
        {[] { throw ComError(E_FAIL, std::string("bad thing")); }, "COM Exception during Action values 80004005 bad thing"},
        {[] { throw std::runtime_error("x"); }, "Unknown exception  during Action values"},
        {[] { throw 42; }, "Unknown exception  during Action values"},
    };
    for (const auto& c : cases) {
        host.clear();
        probe().handlers[7] = [&](ProbeTester& p, std::uint32_t, const VARIANT*) -> ActionResult {
            p.addResult(std::int32_t{1});
            p.setTimeout(100);
            c.thrower();
            return ActionResult::Passed;
        };
        ParameterArray parameters{Value(1)};
        const Outcome outcome = execute(1, parameters);
        EXPECT_EQ(outcome.hr, S_OK);
        EXPECT_EQ(outcome.state, static_cast<ULONG>(ActionResult::Failed));
        EXPECT_TRUE(outcome.resultsNull);
        EXPECT_EQ(parameters.get()->cLocks, 0u) << "the parameters are released on the failure path";
        const auto lines = host.snapshot();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().text, c.line);
        EXPECT_EQ(lines.back().level, static_cast<ULONG>(LogLevel::Error));
        BSTR status = nullptr;
        tester->GetStatus(&status);
        EXPECT_EQ(textOf(status), "") << "the deadline is disarmed after a failure";
        SysFreeString(status);
    }
    // Values added before the failure do not reach the next action.
    probe().handlers[0] = [](ProbeTester&, std::uint32_t, const VARIANT*) { return ActionResult::Passed; };
    EXPECT_TRUE(execute(0).resultsNull);
}

TEST_F(TesterFrame, AParameterArrayThatCannotBeLockedFailsTheAction) {
    ParameterArray parameters{Value(1)};
    ULONG locks = 0;
    while (SUCCEEDED(SafeArrayLock(parameters.get()))) ++locks;
    const Outcome outcome = execute(1, parameters);
    EXPECT_EQ(outcome.hr, S_OK);
    EXPECT_EQ(outcome.state, static_cast<ULONG>(ActionResult::Failed));
    EXPECT_EQ(probe().lastActionId, 0xFFFFFFFFu) << "the handler is not called";
    EXPECT_TRUE(host.contains("Action values start"));
    while (locks-- > 0) SafeArrayUnlock(parameters.get());
}

TEST_F(TesterFrame, CutsLogLinesTo1023Characters) {
    probe().handlers[0] = [](ProbeTester& p, std::uint32_t, const VARIANT*) {
        const std::string longText(2000, 'x');
        p.log(LogLevel::Warning, "%s", longText.c_str());
        return ActionResult::Passed;
    };
    execute(0);
    const auto lines = host.snapshot();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].text, std::string(1023, 'x'));
    EXPECT_EQ(lines[1].level, static_cast<ULONG>(LogLevel::Warning));
}

TEST_F(TesterFrame, SetHostLogsTheIdentityAndNullDropsLaterLines) {
    RecordingHost second;
    const ULONG before = second.references;
    EXPECT_EQ(tester->SetHost(&second), S_OK);
    EXPECT_EQ(second.references, before + 1);
    ASSERT_EQ(second.snapshot().size(), 1u);
    EXPECT_EQ(second.snapshot()[0].text, "Tester: 'probe' Version '1.2'");
    EXPECT_EQ(second.snapshot()[0].level, static_cast<ULONG>(LogLevel::Info));
    EXPECT_EQ(host.references, 1u) << "the previous host was released";

    EXPECT_EQ(tester->SetHost(&second), S_OK);
    EXPECT_EQ(second.references, before + 1) << "the same host is not counted twice";

    EXPECT_EQ(tester->SetHost(nullptr), S_OK);
    EXPECT_EQ(second.references, before);
    probe().handlers[0] = [](ProbeTester& p, std::uint32_t, const VARIANT*) {
        p.log(LogLevel::Error, "dropped");
        return ActionResult::Passed;
    };
    execute(0);
    EXPECT_EQ(second.snapshot().size(), 2u);
}

TEST_F(TesterFrame, StatusCarriesTheTimeoutSuffixOnlyWhileAWholeSecondIsLeft) {
    probe().setStatusText("base text");
    std::atomic<bool> armed{false};
    std::atomic<bool> seen{false};
    probe().handlers[7] = [&](ProbeTester& p, std::uint32_t, const VARIANT* values) {
        p.setTimeout(values[0].dblVal);
        armed = true;
        for (int i = 0; i < 10000 && !seen; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return ActionResult::Passed;
    };
    struct Case {
        double seconds;
        std::string pattern;
    };
    for (const Case& c : {Case{5.0, R"(base text \(Timeout in [45] sec\))"}, Case{0.5, "base text"}}) {
        armed = false;
        seen = false;
        ParameterArray parameters{Value(c.seconds)};
        std::thread action([&] { execute(1, parameters); });
        for (int i = 0; i < 10000 && !armed; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        BSTR status = nullptr;
        EXPECT_EQ(tester->GetStatus(&status), S_OK);
        EXPECT_TRUE(std::regex_match(textOf(status), std::regex(c.pattern))) << textOf(status);
        SysFreeString(status);
        seen = true;
        action.join();
        EXPECT_EQ(tester->GetStatus(&status), S_OK);
        EXPECT_EQ(textOf(status), "base text") << "no suffix after the action returned";
        SysFreeString(status);
    }
}

TEST_F(TesterFrame, AbortIsClearedAtEachStartAndSeenByAWaitingHandler) {
    std::atomic<bool> waiting{false};
    probe().handlers[0] = [&](ProbeTester& p, std::uint32_t, const VARIANT*) {
        if (p.aborted()) return ActionResult::Failed;
        waiting = true;
        for (int i = 0; i < 10000; ++i) {
            if (p.aborted()) return ActionResult::Aborted;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return ActionResult::Passed;
    };
    EXPECT_EQ(tester->Abort(), S_OK);
    std::thread aborter([&] {
        for (int i = 0; i < 10000 && !waiting; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        tester->Abort();
    });
    EXPECT_EQ(execute(0).state, static_cast<ULONG>(ActionResult::Aborted))
        << "an Abort before the action does not count; one during it does";
    aborter.join();
}

TEST_F(TesterFrame, DeadlineArithmetic) {
    std::vector<std::string> seen;
    std::int32_t armedAt = 0;
    std::int32_t firstTimedOutAt = 0;
    probe().handlers[0] = [&](ProbeTester& p, std::uint32_t, const VARIANT*) {
        p.setTimeout(-1);
        seen.push_back(p.timedOut() ? "negative:timed out" : "negative:waiting");
        armedAt = platform::tickMs();
        p.setTimeout(0.5);
        seen.push_back(p.timedOut() ? "half:timed out" : "half:waiting");
        for (int i = 0; i < 5000 && !p.timedOut(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        firstTimedOutAt = platform::tickMs();
        seen.push_back(p.timedOut() ? "half:timed out" : "half:waiting");
        return ActionResult::Passed;
    };
    execute(0);
    EXPECT_EQ(seen, (std::vector<std::string>{"negative:timed out", "half:waiting", "half:timed out"}));
    EXPECT_GT(firstTimedOutAt - armedAt, 500) << "timed out only once the clock has passed the 500 ms";
}

TEST_F(TesterFrame, AddResultStoresAndLogsEachForm) {
    struct Case {
        std::function<void(ProbeTester&)> add;
        std::string line;
        ULONG level;
        std::vector<VARTYPE> types;
    };
    auto variant = [](VARTYPE type, auto setter) {
        return [=](ProbeTester& p) {
            Value v = Value::raw(type);
            setter(v.get());
            p.addResult(v.get());
        };
    };
    const ULONG trace = static_cast<ULONG>(LogLevel::Trace);
    const ULONG error = static_cast<ULONG>(LogLevel::Error);
    const std::vector<Case> cases = {
        {[](ProbeTester& p) { p.addResult(0.1); }, "Double 0.1 added", trace, {VT_R8}},
        {[](ProbeTester& p) { p.addResult(std::int32_t{-5}); }, "Integer -5 added", trace, {VT_I4}},
        {[](ProbeTester& p) { p.addResult(std::string("abc")); }, "String \"abc\" added", trace, {VT_BSTR}},
        {[](ProbeTester& p) { p.addResult(true); }, "Bool true added", trace, {VT_BOOL}},
        {variant(VT_BOOL, [](VARIANT& v) { v.boolVal = 1; }), "Bool false added", trace, {VT_BOOL}},
        {variant(VT_I2, [](VARIANT& v) { v.iVal = -2; }), "Integer -2 added", trace, {VT_I4}},
        {variant(VT_EMPTY, [](VARIANT&) {}), "String \"\" added", trace, {VT_BSTR}},
        {variant(VT_R8, [](VARIANT& v) { v.dblVal = 2.5; }), "Double 2.5 added", trace, {VT_R8}},
        {variant(VT_DATE, [](VARIANT& v) { v.date = 1.0; }), "Value type 7 not known", error, {}},
        {variant(VT_I8, [](VARIANT& v) { v.llVal = 1; }), "Value type 20 not known", error, {}},
    };
    for (const auto& c : cases) {
        host.clear();
        probe().handlers[0] = [&](ProbeTester& p, std::uint32_t, const VARIANT*) {
            c.add(p);
            return ActionResult::Passed;
        };
        const Outcome outcome = execute(0);
        EXPECT_EQ(outcome.types, c.types) << c.line;
        const auto lines = host.snapshot();
        ASSERT_EQ(lines.size(), 2u) << c.line;
        EXPECT_EQ(lines[1].text, c.line);
        EXPECT_EQ(lines[1].level, c.level) << c.line;
        if (c.line == "Bool false added") {
            EXPECT_EQ(outcome.values[0].get().boolVal, VARIANT_FALSE);
        }
        if (c.line == "Integer -2 added") {
            EXPECT_EQ(outcome.values[0].get().lVal, -2);
        }
    }
}

TEST_F(TesterFrame, NewAndDeleteReportTheHandlersAnswer) {
    ParameterArray parameters{Value("loopback"), Value(3)};
    VARIANT_BOOL ok = 7;
    EXPECT_EQ(tester->New(parameters.get(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    EXPECT_EQ(probe().newCount, 2u);
    probe().newResult = false;
    EXPECT_EQ(tester->New(parameters.get(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    probe().throwInNew = true;
    EXPECT_EQ(tester->New(parameters.get(), &ok), E_FAIL);
    EXPECT_EQ(parameters.get()->cLocks, 0u);
    EXPECT_EQ(tester->New(nullptr, &ok), E_INVALIDARG) << "the lock failure is passed on";

    EXPECT_EQ(tester->Delete(&ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    probe().deleteResult = false;
    EXPECT_EQ(tester->Delete(&ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    probe().throwInDelete = true;
    EXPECT_EQ(tester->Delete(&ok), E_FAIL);
}

TEST_F(TesterFrame, ScriptDirectoryStartsAsDotAndFollowsTheHost) {
    EXPECT_EQ(probe().scriptDirectory(), ".");
    BSTR directory = platform::bstrFromNarrow("scripts/here");
    EXPECT_EQ(tester->SetScriptDirectory(directory), S_OK);
    SysFreeString(directory);
    EXPECT_EQ(probe().scriptDirectory(), "scripts/here");
    EXPECT_EQ(tester->SetScriptDirectory(nullptr), S_OK);
    EXPECT_EQ(probe().scriptDirectory(), "");
}

TEST_F(TesterFrame, DispatchCountsOneTypeInfoAndRejectsOtherIndexes) {
    UINT count = 0;
    EXPECT_EQ(tester->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(tester->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);
}

TEST(ParameterReading, ATrueBoolIsAllSixteenBitsAndANullTextIsEmpty) {
    const std::vector<std::pair<VARIANT_BOOL, bool>> bools = {
        {VARIANT_TRUE, true}, {VARIANT_FALSE, false}, {1, false}, {0x7FFF, false}, {-2, false}};
    for (const auto& [raw, expected] : bools) {
        Value v = Value::raw(VT_BOOL);
        v.get().boolVal = raw;
        EXPECT_EQ(boolOf(v.get()), expected) << raw;
    }
    Value nullText = Value::raw(VT_BSTR);
    EXPECT_EQ(textOf(nullText.get()), "");
    EXPECT_TRUE(isText(nullText.get()));
    EXPECT_FALSE(isInteger(Value(2.0).get())) << "no conversion between types";
    EXPECT_FALSE(isDouble(Value(2).get()));
    EXPECT_EQ(elementCount(nullptr), 0u);
}

TEST(ModuleLocks, EachLiveTesterHoldsOne) {
    const long before = ModuleLock::count();
    ITester3* first = makeTester<ProbeTester>();
    ITester3* second = makeTester<EmptyTester>();
    EXPECT_EQ(ModuleLock::count(), before + 2);
    first->Release();
    EXPECT_EQ(ModuleLock::count(), before + 1);
    second->Release();
    EXPECT_EQ(ModuleLock::count(), before);
}

} // namespace
