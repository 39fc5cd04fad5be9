// The action frame and the host interface of the tester framework, driven
// through ITester3 with a probe tester whose handlers each test sets.
#include "ProbeTester.h"

#include "com/ComError.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

constexpr ULONG Sentinel = 0xDEADBEEF;
SAFEARRAY* const SentinelArray = reinterpret_cast<SAFEARRAY*>(static_cast<std::uintptr_t>(0x1234));
constexpr auto Passed = static_cast<ULONG>(ActionResult::Passed), Failed = static_cast<ULONG>(ActionResult::Failed);

using TesterFrame = ProbeFrame;

TEST_F(TesterFrame, AnswersEveryTesterInterfaceWithOneTableAndErrorInfoApart) {
    void* errorInfo = nullptr;
    ASSERT_EQ(tester->QueryInterface(IID_ISupportErrorInfo, &errorInfo), S_OK);
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &IID_ITester, &IID_ITester1, &IID_ITester2, &IID_ITester3}) {
        void* table = nullptr;
        ASSERT_EQ(tester->QueryInterface(*iid, &table), S_OK);
        // The first base is the identity; every other identifier gives the one ITester3 table.
        EXPECT_EQ(table, iid == &IID_IUnknown ? errorInfo : static_cast<void*>(tester.get()));
        static_cast<IUnknown*>(table)->Release();
    }
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(tester->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    auto* support = static_cast<ISupportErrorInfo*>(errorInfo);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ITester), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ITester3), S_FALSE);
    support->Release();
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(tester->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);
}

TEST_F(TesterFrame, NullOutPointersGiveEPointerAndChangeNothing) {
    ParameterArray none{};
    ULONG state = Sentinel;
    SAFEARRAY* results = SentinelArray;
    BSTR text = nullptr;
    SAFEARRAY* lines = nullptr;
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
    VARIANT result;
    VariantInit(&result);
    const IID nullIid{}; // IID_NULL, which every build's headers do not declare
    EXPECT_EQ(tester->Invoke(1, nullIid, 0, 1 /* DISPATCH_METHOD */, nullptr, &result, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(result.vt, VT_EMPTY);
    EXPECT_EQ(state, Sentinel);
    EXPECT_EQ(results, SentinelArray);
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

    const auto empty = makeTester<EmptyTester>();
    ULONG count = Sentinel;
    EXPECT_EQ(empty->GetActionCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(empty->GetActionName(0, &text), E_INVALIDARG);
    ASSERT_EQ(empty->GetNewActionInfo(&text, &parameterLines), S_OK);
    EXPECT_EQ(parameterLines, nullptr) << "no New help lines: a null array";
    SysFreeString(text);
}

// Help lines go out as registered, leading blanks included, in vectors
// counted from 0; an empty list is a null array, never an empty one.
TEST_F(TesterFrame, HandsOutHelpLinesAndNullForNone) {
    BSTR description = nullptr;
    SAFEARRAY* lines[2] = {SentinelArray, SentinelArray};
    ASSERT_EQ(tester->GetActionInfo(1, &description, &lines[0], &lines[1]), S_OK);
    EXPECT_EQ(textOf(description), "Returns values");
    EXPECT_EQ(textsOf(lines[0]), (std::vector<std::string>{"int count", "    string text"}));
    EXPECT_EQ(textsOf(lines[1]), (std::vector<std::string>{"VARIANT[] values"}));
    EXPECT_EQ(lines[0]->rgsabound[0].lLbound, 0);
    for (SAFEARRAY* array : lines) SafeArrayDestroy(array);
    SysFreeString(description);
    ASSERT_EQ(tester->GetActionInfo(0, &description, &lines[0], &lines[1]), S_OK);
    EXPECT_EQ(lines[0], nullptr);
    EXPECT_EQ(lines[1], nullptr);
    SysFreeString(description);
    ASSERT_EQ(tester->GetNewActionInfo(&description, &lines[0]), S_OK);
    EXPECT_EQ(textsOf(lines[0]), (std::vector<std::string>{"string kind", "    int option"}));
    SafeArrayDestroy(lines[0]);
    SysFreeString(description);
}

// (The parameters' values reach the handler as the echo tester's scripts show.)
TEST_F(TesterFrame, LocksTheParametersForTheHandlerAndHandsItTheRegisteredId) {
    ParameterArray parameters{Value(5)};
    ULONG locksDuringHandler = 0;
    probe().handlers[7] = [&](ProbeTester&, std::uint32_t, const VARIANT*) {
        locksDuringHandler = parameters.get()->cLocks;
        return ActionResult::Warning;
    };
    EXPECT_EQ(execute(1, parameters).state, static_cast<ULONG>(ActionResult::Warning));
    EXPECT_EQ(locksDuringHandler, 1u);
    EXPECT_EQ(parameters.get()->cLocks, 0u);
    const auto lines = host.snapshot();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "Action values start");
    EXPECT_EQ(lines[0].level, static_cast<ULONG>(LogLevel::Trace));
    // Position 2 repeats a name but carries its own id; unhandled ids give Error.
    EXPECT_EQ(execute(2).state, static_cast<ULONG>(ActionResult::Error));
    EXPECT_EQ(probe().lastActionId, 3u);
}

TEST_F(TesterFrame, TurnsThrownFailuresIntoFailedWithTheirLogLines) {
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] { throw ComError(E_INVALIDARG); }, "COM Exception during Action values 80070057 (null)"},
        {[] { throw ComError(E_FAIL, std::string("bad thing")); }, "COM Exception during Action values 80004005 bad thing"},
        {[] { throw std::runtime_error("x"); }, "Unknown exception  during Action values"},
        {[] { throw 42; }, "Unknown exception  during Action values"},
    };
    for (const auto& [thrower, line] : cases) {
        host.clear();
        probe().handlers[7] = [&](ProbeTester& p, std::uint32_t, const VARIANT*) -> ActionResult {
            p.addResult(std::int32_t{1});
            p.setTimeout(100);
            thrower();
            return ActionResult::Passed;
        };
        ParameterArray parameters{Value(1)};
        const Outcome outcome = execute(1, parameters);
        EXPECT_EQ(outcome.hr, S_OK);
        EXPECT_EQ(outcome.state, Failed);
        EXPECT_TRUE(outcome.resultsNull);
        EXPECT_EQ(parameters.get()->cLocks, 0u) << "the parameters are released on the failure path";
        const auto lines = host.snapshot();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().text, line);
        EXPECT_EQ(lines.back().level, static_cast<ULONG>(LogLevel::Error));
        EXPECT_EQ(status(), "") << "the deadline is disarmed after a failure";
    }
    EXPECT_TRUE(run([](ProbeTester&) {}).resultsNull) << "values added before the failure are gone";

    // A parameter array that cannot be locked fails the action before its handler.
    ParameterArray parameters{Value(1)};
    ULONG locks = 0;
    while (SUCCEEDED(SafeArrayLock(parameters.get()))) ++locks;
    probe().lastActionId = Sentinel;
    EXPECT_EQ(execute(1, parameters).state, Failed);
    EXPECT_EQ(probe().lastActionId, Sentinel);
    while (locks-- > 0) SafeArrayUnlock(parameters.get());
}

TEST_F(TesterFrame, AddResultStoresAndLogsEachForm) {
    const auto variant = [](VARTYPE type, auto setter) {
        return [=](ProbeTester& p) {
            Value v = Value::raw(type);
            setter(v.get());
            p.addResult(v.get());
        };
    };
    const struct {
        std::function<void(ProbeTester&)> add;
        std::string line;
        VARTYPE type; // VT_EMPTY: none stored, an error logged
    } cases[] = {
        {[](ProbeTester& p) { p.addResult(0.1); }, "Double 0.1 added", VT_R8},
        {[](ProbeTester& p) { p.addResult(std::int32_t{-5}); }, "Integer -5 added", VT_I4},
        {[](ProbeTester& p) { p.addResult(std::string("abc")); }, "String \"abc\" added", VT_BSTR},
        {[](ProbeTester& p) { p.addResult(true); }, "Bool true added", VT_BOOL},
        {variant(VT_BOOL, [](VARIANT& v) { v.boolVal = 1; }), "Bool false added", VT_BOOL},
        {variant(VT_I2, [](VARIANT& v) { v.iVal = -2; }), "Integer -2 added", VT_I4},
        {variant(VT_EMPTY, [](VARIANT&) {}), "String \"\" added", VT_BSTR},
        {variant(VT_DATE, [](VARIANT& v) { v.date = 1.0; }), "Value type 7 not known", VT_EMPTY},
        {variant(VT_I8, [](VARIANT& v) { v.llVal = 1; }), "Value type 20 not known", VT_EMPTY},
    };
    for (const auto& c : cases) {
        host.clear();
        const Outcome outcome = run(c.add);
        std::vector<VARTYPE> types;
        for (const Value& value : outcome.values) types.push_back(value.get().vt);
        EXPECT_EQ(types, c.type == VT_EMPTY ? std::vector<VARTYPE>{} : std::vector<VARTYPE>{c.type}) << c.line;
        const auto lines = host.snapshot();
        ASSERT_EQ(lines.size(), 2u) << c.line;
        EXPECT_EQ(lines[1].text, c.line);
        EXPECT_EQ(lines[1].level, static_cast<ULONG>(c.type == VT_EMPTY ? LogLevel::Error : LogLevel::Trace));
    }
}

TEST_F(TesterFrame, SetHostLogsTheIdentityAndNullDropsLaterLines) {
    RecordingHost second;
    const ULONG before = second.referenceCount();
    EXPECT_EQ(tester->SetHost(&second), S_OK);
    EXPECT_EQ(second.referenceCount(), before + 1);
    ASSERT_EQ(second.snapshot().size(), 1u);
    EXPECT_EQ(second.snapshot()[0].text, "Tester: 'probe' Version '1.2'");
    EXPECT_EQ(second.snapshot()[0].level, static_cast<ULONG>(LogLevel::Info));
    EXPECT_EQ(host.referenceCount(), 1u) << "the previous host was released";
    EXPECT_EQ(tester->SetHost(&second), S_OK);
    EXPECT_EQ(second.referenceCount(), before + 1) << "the same host is not counted twice";
    EXPECT_EQ(tester->SetHost(nullptr), S_OK);
    EXPECT_EQ(second.referenceCount(), before);
    run([](ProbeTester& p) { p.log(LogLevel::Error, "dropped"); });
    EXPECT_EQ(second.snapshot().size(), 2u);
}

TEST_F(TesterFrame, LinesFollowAHostSetDuringTheAction) {
    RecordingHost second;
    const ULONG before = second.referenceCount();
    run([&](ProbeTester& p) {
        p.log(LogLevel::Trace, "to the first");
        p.SetHost(&second);
        p.log(LogLevel::Trace, "to the second");
        p.SetHost(&host);
        p.log(LogLevel::Trace, "to the first again");
        p.SetHost(nullptr);
        p.log(LogLevel::Trace, "to nobody");
    });
    EXPECT_TRUE(host.contains("to the first"));
    EXPECT_TRUE(host.contains("to the first again"));
    EXPECT_TRUE(second.contains("to the second"));
    EXPECT_EQ(host.snapshot().size() + second.snapshot().size(), 6u) << "start, three lines, two identities";
    EXPECT_EQ(host.referenceCount(), 1u);
    EXPECT_EQ(second.referenceCount(), before);
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

} // namespace
