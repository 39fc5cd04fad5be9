// The action frame and the host interface of the tester framework, driven
// through ITester3 with a probe tester whose handlers each test sets.
#include "ProbeTester.h"

#include "com/ComError.h"

#include <gtest/gtest.h>

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
    static_cast<IUnknown*>(errorInfo)->Release();
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(tester->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(tester->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);
}

TEST_F(TesterFrame, NullOutPointersGiveEPointerAndChangeNothing) {
    ParameterArray none{};
    ULONG state = Sentinel;
    SAFEARRAY* results = SentinelArray;
    DISPID id = 0;
    const std::vector<std::pair<const char*, std::function<HRESULT()>>> calls = {
        {"ExecuteAction state", [&] { return tester->ExecuteAction(0, none.get(), &results, nullptr); }},
        {"ExecuteAction parameters", [&] { return tester->ExecuteAction(0, nullptr, &results, &state); }},
        {"ExecuteAction results", [&] { return tester->ExecuteAction(0, none.get(), nullptr, &state); }},
        {"New", [&] { return tester->New(none.get(), nullptr); }},
        {"GetIDsOfNames names", [&] { return tester->GetIDsOfNames(IID_IUnknown, nullptr, 1, 0, &id); }},
    };
    for (const auto& [method, call] : calls) EXPECT_EQ(call(), E_POINTER) << method;
    VARIANT result;
    VariantInit(&result);
    const IID nullIid{}; // IID_NULL, which every build's headers do not declare
    EXPECT_EQ(tester->Invoke(1, nullIid, 0, 1 /* DISPATCH_METHOD */, nullptr, &result, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(result.vt, VT_EMPTY);
    EXPECT_EQ(state, Sentinel);
    EXPECT_EQ(results, SentinelArray);
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
    EXPECT_TRUE(host.snapshot().empty()) << "no start line for an unknown position";

    ASSERT_EQ(tester->GetActionInfo(0, &text, &parameterLines, &resultLines), S_OK);
    EXPECT_EQ(parameterLines, nullptr) << "no help lines: a null array, never an empty one";
    EXPECT_EQ(resultLines, nullptr);
    SysFreeString(text);
}

// (The parameters' values reach the handler as the echo tester's scripts show.)
TEST_F(TesterFrame, LocksTheParametersForTheHandlerAndHandsItTheRegisteredId) {
    ParameterArray parameters{Value(5)};
    ULONG locksDuringHandler = 0;
    probe().handlers[7] = [&](ProbeTester&) { return locksDuringHandler = parameters.get()->cLocks, ActionResult::Warning; };
    EXPECT_EQ(execute(1, parameters).state, static_cast<ULONG>(ActionResult::Warning));
    EXPECT_EQ(locksDuringHandler, 1u);
    EXPECT_EQ(parameters.get()->cLocks, 0u);
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
        probe().handlers[7] = [&](ProbeTester& p) {
            p.addResult(std::int32_t{1});
            p.setTimeout(100);
            thrower();
            return ActionResult::Passed;
        };
        ParameterArray parameters{Value(1)};
        const Outcome outcome = execute(1, parameters);
        EXPECT_EQ(outcome.state, Failed);
        EXPECT_TRUE(outcome.resultsNull);
        EXPECT_EQ(parameters.get()->cLocks, 0u) << "the parameters are released on the failure path";
        ASSERT_FALSE(host.snapshot().empty());
        EXPECT_EQ(host.snapshot().back().text, line);
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
        std::string values; // none: nothing stored, an error logged
    } cases[] = {
        {[](ProbeTester& p) { p.addResult(0.1); }, "Double 0.1 added", "d0.1 "},
        {[](ProbeTester& p) { p.addResult(std::int32_t{-5}); }, "Integer -5 added", "i-5 "},
        {[](ProbeTester& p) { p.addResult(std::string("abc")); }, "String \"abc\" added", "sabc "},
        {[](ProbeTester& p) { p.addResult(true); }, "Bool true added", "b1 "},
        {variant(VT_BOOL, [](VARIANT& v) { v.boolVal = 1; }), "Bool false added", "b0 "},
        {variant(VT_I2, [](VARIANT& v) { v.iVal = -2; }), "Integer -2 added", "i-2 "},
        {variant(VT_EMPTY, [](VARIANT&) {}), "String \"\" added", "s "},
        {variant(VT_DATE, [](VARIANT& v) { v.date = 1.0; }), "Value type 7 not known", ""},
        {variant(VT_I8, [](VARIANT& v) { v.llVal = 1; }), "Value type 20 not known", ""},
    };
    for (const auto& c : cases) {
        host.clear();
        const Outcome outcome = run(c.add);
        EXPECT_EQ(outcome.values, c.values) << c.line;
        const auto lines = host.snapshot();
        ASSERT_EQ(lines.size(), 2u) << c.line;
        EXPECT_EQ(lines[1].text, c.line);
        EXPECT_EQ(lines[1].level, static_cast<ULONG>(c.values.empty() ? LogLevel::Error : LogLevel::Trace));
    }
}

TEST_F(TesterFrame, SetHostLogsTheIdentityAndLinesFollowTheHostSetLast) {
    RecordingHost second;
    const ULONG before = second.referenceCount();
    EXPECT_EQ(tester->SetHost(&second), S_OK);
    EXPECT_EQ(second.referenceCount(), before + 1);
    ASSERT_EQ(second.snapshot().size(), 1u); // its text: the serial tester's tests
    EXPECT_EQ(second.snapshot()[0].level, static_cast<ULONG>(LogLevel::Info));
    EXPECT_EQ(host.referenceCount(), 1u) << "the previous host was released";
    EXPECT_EQ(tester->SetHost(&second), S_OK);
    EXPECT_EQ(second.referenceCount(), before + 1) << "the same host is not counted twice";
    // A host set during the action takes the lines from then on; none drops them.
    run([&](ProbeTester& p) {
        p.log(LogLevel::Trace, "to the second");
        p.SetHost(&host);
        p.log(LogLevel::Trace, "to the first");
        p.SetHost(nullptr);
        p.log(LogLevel::Trace, "to nobody");
    });
    EXPECT_TRUE(second.contains("to the second"));
    EXPECT_TRUE(host.contains("to the first"));
    EXPECT_EQ(host.snapshot().size() + second.snapshot().size(), 6u) << "three identities, the start line and two lines";
    EXPECT_EQ(host.referenceCount(), 1u);
    EXPECT_EQ(second.referenceCount(), before);
}

// (An Abort during a waiting action: the serial tester's fault tests.)
TEST_F(TesterFrame, AnAbortBeforeTheActionIsClearedAtItsStart) {
    EXPECT_EQ(tester->Abort(), S_OK);
    bool abortedAtStart = true;
    run([&](ProbeTester& p) { abortedAtStart = p.aborted(); });
    EXPECT_FALSE(abortedAtStart);
}

// (New and Delete answering true and refusing: the echo tester's scripts.)
TEST_F(TesterFrame, NewAndDeleteTurnThrowsIntoEFailAndReportAFalseDelete) {
    ParameterArray parameters{Value("loopback"), Value(3)};
    VARIANT_BOOL ok = 7;
    probe().throwInNew = true;
    EXPECT_EQ(tester->New(parameters.get(), &ok), E_FAIL);
    EXPECT_EQ(parameters.get()->cLocks, 0u);
    EXPECT_EQ(tester->New(nullptr, &ok), E_INVALIDARG) << "the lock failure is passed on";
    probe().deleteResult = false;
    EXPECT_EQ(tester->Delete(&ok), S_OK);
    EXPECT_EQ(ok, VARIANT_FALSE);
    probe().throwInDelete = true;
    EXPECT_EQ(tester->Delete(&ok), E_FAIL);
}

} // namespace
