// A concrete tester for tests of the framework: its handlers are set by the
// test, and it records what the frame handed it.
#pragma once

#include "platform/text.h"
#include "com/ComObject.h"
#include "tester/Tester.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <stdexcept>

class ProbeTester : public Tester {
public:
    using Handler = std::function<ActionResult(ProbeTester&, std::uint32_t, const VARIANT*)>;

    ProbeTester() : Tester("probe", "1.2", "A tester for tests") {
        setNewActionHelp("Set up the probe", {"string kind", "    int option"});
        addAction(0, "plain", "No parameters, no results", {}, {});
        addAction(7, "values", "Returns values", {"int count", "    string text"}, {"VARIANT[] values"});
        addAction(3, "plain", "Same name, other id", {}, {});
    }

    ActionResult executeAction(std::uint32_t actionId, std::uint32_t count, const VARIANT* parameters) override {
        lastActionId = actionId;
        lastCount = count;
        const auto handler = handlers.find(actionId);
        return handler == handlers.end() ? ActionResult::Error : handler->second(*this, count, parameters);
    }

    bool onNew(std::uint32_t count, const VARIANT*) override {
        newCount = count;
        if (throwInNew) throw std::runtime_error("new failed");
        return newResult;
    }

    bool onDelete() override {
        if (throwInDelete) throw std::runtime_error("delete failed");
        return deleteResult;
    }

    using Tester::setStatusText;

    std::map<std::uint32_t, Handler> handlers;
    std::uint32_t lastActionId = 0xFFFFFFFF;
    std::uint32_t lastCount = 0xFFFFFFFF;
    std::uint32_t newCount = 0xFFFFFFFF;
    bool newResult = true;
    bool deleteResult = true;
    bool throwInNew = false;
    bool throwInDelete = false;
};

// A tester that registers nothing.
class EmptyTester : public Tester {
public:
    EmptyTester() : Tester("empty", "0.0", "") {}
    ActionResult executeAction(std::uint32_t, std::uint32_t, const VARIANT*) override { return ActionResult::Error; }
};

// Makes a ComObject<T> and hands out its ITester3 reference.
template <class T>
ITester3* makeTester() {
    ITester3* tester = nullptr;
    if (FAILED(ComObject<T>::create(IID_ITester3, reinterpret_cast<void**>(&tester)))) return nullptr;
    return tester;
}

template <class T>
T& implementationOf(ITester3* tester) {
    return static_cast<T&>(*tester);
}

// Every tester here reports no flags and no child tester, whatever the index.
inline void expectNoFlagsAndNoChildTesters(ITester3* tester) {
    ULONG flags = 0xDEADBEEF;
    EXPECT_EQ(tester->GetTesterFlags(&flags), S_OK);
    EXPECT_EQ(flags, 0u);
    for (ULONG index : {0u, 1u, 2u, 0xFFFFFFFFu}) {
        ITester* child = reinterpret_cast<ITester*>(static_cast<std::uintptr_t>(1));
        EXPECT_EQ(tester->GetChildTester(index, &child), S_OK);
        EXPECT_EQ(child, nullptr) << index;
    }
}

// An action registered without parameter and result lines: its description,
// and null for both help arrays (never an empty array).
inline void expectDescriptionOnly(ITester3* tester, ULONG position, const std::string& description) {
    BSTR text = nullptr;
    SAFEARRAY* parameterLines = reinterpret_cast<SAFEARRAY*>(static_cast<std::uintptr_t>(0x1234));
    SAFEARRAY* resultLines = parameterLines;
    ASSERT_EQ(tester->GetActionInfo(position, &text, &parameterLines, &resultLines), S_OK);
    EXPECT_EQ(platform::narrowFromBstr(text), description);
    EXPECT_EQ(parameterLines, nullptr);
    EXPECT_EQ(resultLines, nullptr);
    SysFreeString(text);
}
