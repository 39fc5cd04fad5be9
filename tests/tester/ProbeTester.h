// A tester whose handlers each test sets, and a fixture that drives it
// through ITester3 as the host does.
#pragma once

#include "../support/RecordingHost.h"
#include "../support/Variants.h"
#include "com/ComObject.h"
#include "com/ComPtr.h"
#include "tester/Tester.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

class ProbeTester : public Tester {
public:
    using Handler = std::function<ActionResult(ProbeTester&)>;

    ProbeTester() : Tester("probe", "1.2", "A tester for tests") {
        addAction(0, "plain", "No parameters, no results", {}, {});
        addAction(7, "values", "Returns values", {"int count", "    string text"}, {"VARIANT[] values"});
        addAction(3, "plain", "Same name, other id", {}, {});
    }

    ActionResult executeAction(std::uint32_t actionId, std::uint32_t, const VARIANT*) override {
        lastActionId = actionId;
        const auto handler = handlers.find(actionId);
        return handler == handlers.end() ? ActionResult::Error : handler->second(*this);
    }

    bool onNew(std::uint32_t, const VARIANT*) override {
        if (throwInNew) throw std::runtime_error("new failed");
        return true;
    }

    bool onDelete() override {
        if (throwInDelete) throw std::runtime_error("delete failed");
        return deleteResult;
    }

    using Tester::setStatusText;

    std::map<std::uint32_t, Handler> handlers;
    std::uint32_t lastActionId = 0xFFFFFFFF;
    bool deleteResult = true;
    bool throwInNew = false;
    bool throwInDelete = false;
};

// Makes a ComObject<T> and hands out its ITester3 reference.
template <class T>
ComPtr<ITester3> makeTester() {
    ComPtr<ITester3> tester;
    ComObject<T>::create(IID_ITester3, tester.putVoid());
    return tester;
}

// A probe tester driven through ITester3, logging to a recording host.
class ProbeFrame : public testing::Test {
protected:
    struct Outcome {
        HRESULT hr = S_OK;
        ULONG state = 0xDEADBEEF;
        std::string values; // as valuesText() shows them
        bool resultsNull = true;
    };

    void SetUp() override {
        tester = makeTester<ProbeTester>();
        ASSERT_TRUE(tester);
        ASSERT_EQ(tester->SetHost(&host), S_OK);
        host.clear();
    }
    void TearDown() override { tester->SetHost(nullptr); }
    ProbeTester& probe() { return static_cast<ProbeTester&>(*tester.get()); }

    Outcome execute(ULONG index, const ParameterArray& parameters = ParameterArray{}) {
        Outcome outcome;
        SAFEARRAY* const untouched = reinterpret_cast<SAFEARRAY*>(static_cast<std::uintptr_t>(0x1234));
        SAFEARRAY* results = untouched;
        outcome.hr = tester->ExecuteAction(index, parameters.get(), &results, &outcome.state);
        outcome.resultsNull = results == nullptr;
        if (!results || results == untouched) return outcome;
        EXPECT_EQ(results->cLocks, 0u);
        EXPECT_EQ(results->rgsabound[0].lLbound, 0);
        outcome.values = valuesText(results);
        SafeArrayDestroy(results);
        return outcome;
    }
    // Position 0 runs `body` and passes.
    Outcome run(std::function<void(ProbeTester&)> body) {
        probe().handlers[0] = [body](ProbeTester& p) { return body(p), ActionResult::Passed; };
        return execute(0);
    }
    std::string status() {
        Bstr text;
        EXPECT_EQ(tester->GetStatus(text.put()), S_OK);
        return textOf(text.get());
    }

    RecordingHost host;
    ComPtr<ITester3> tester; // goes before the host
};
