// A tester driven through ITester3 as the host drives it, logging to a
// recording host: "new", "delete" and actions by table position, with their
// result state and values.
#pragma once

#include "RecordingHost.h"
#include "Variants.h"
#include "com/ComObject.h"
#include "com/ComPtr.h"
#include "quillon/ActionResult.h"
#include "tester/Tester.h"

#include <string>
#include <vector>

using Lines = std::vector<std::string>;
inline constexpr auto Passed = ActionResult::Passed, Failed = ActionResult::Failed, Error = ActionResult::Error,
                      Aborted = ActionResult::Aborted, Warning = ActionResult::Warning;

struct Outcome {
    HRESULT hr = E_FAIL;
    ActionResult state = ActionResult::Error;
    std::string values; // the result values by type and value: "i7 d2.5 sword "
};

template <class TestedTester>
class TesterDriver {
public:
    TesterDriver() {
        ComObject<TestedTester>::create(IID_ITester3, tester.putVoid());
        tester->SetHost(&host);
    }

    TestedTester& object() { return static_cast<TestedTester&>(static_cast<Tester&>(*tester.get())); }

    bool create(const std::vector<Value>& parameters) {
        VARIANT_BOOL ok = VARIANT_FALSE;
        return tester->New(ParameterArray(parameters).get(), &ok) == S_OK && ok == VARIANT_TRUE;
    }
    bool destroyLink() {
        VARIANT_BOOL ok = VARIANT_FALSE;
        return tester->Delete(&ok) == S_OK && ok == VARIANT_TRUE;
    }
    Outcome execute(ULONG position, const std::vector<Value>& parameters = {}) {
        Outcome outcome;
        SAFEARRAY* results = nullptr;
        ULONG state = 0;
        outcome.hr = tester->ExecuteAction(position, ParameterArray(parameters).get(), &results, &state);
        outcome.state = static_cast<ActionResult>(state);
        outcome.values = valuesText(results);
        if (results) SafeArrayDestroy(results);
        return outcome;
    }
    // The texts logged at `level` since the last clear.
    Lines lines(LogLevel level) {
        Lines texts;
        for (const auto& line : host.snapshot())
            if (line.level == static_cast<ULONG>(level)) texts.push_back(line.text);
        return texts;
    }

    RecordingHost host;
    ComPtr<ITester3> tester; // goes before the host, and the link with it
};
