// A serial tester driven in process through ITester3 as a host drives it,
// for the benchmark programs: one tester over one open link, its received
// data not traced.
#pragma once

#include "com/ComObject.h"
#include "com/ComPtr.h"
#include "com/UntypedDispatch.h"
#include "tests/support/ScriptedSerial.h"
#include "tests/support/Variants.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

// Positions in the serial tester's action table.
enum Action : ULONG { Open = 0, Send = 2, Waitfor = 3, LogData = 7, SinkData = 8, Scanf = 9, SendFile = 10, CompareFile = 11 };

inline constexpr int actionTimeoutSeconds = 600; // far beyond any case: a stall shows as an error
inline constexpr std::size_t linkChunkBytes = 4096; // what a link typically delivers at once

// A host that takes every log line and drops it.
class DiscardingHost final : public UntypedDispatch<ITesterHost, IID_ITesterHost> {
public:
    HRESULT STDMETHODCALLTYPE Log(ULONG, BSTR) override { return S_OK; }
};

class OpenTester {
public:
    // "new" with `linkType`, "open" with `openParameters`, "logdata false".
    explicit OpenTester(const char* linkType, bool withHost = true, std::vector<Value> openParameters = {}) {
        ComObject<ScriptedSerial>::create(IID_ITester3, tester_.putVoid());
        if (withHost) tester_->SetHost(&host_);
        VARIANT_BOOL created = VARIANT_FALSE;
        tester_->New(ParameterArray{Value(linkType)}.get(), &created);
        if (created != VARIANT_TRUE || run(Open, ParameterArray(openParameters)) != ActionResult::Passed ||
            run(LogData, ParameterArray{Value::boolean(false)}) != ActionResult::Passed)
            throw std::runtime_error(std::string("cannot open a ") + linkType + " link");
    }
    ~OpenTester() {
        VARIANT_BOOL deleted = VARIANT_FALSE;
        tester_->Delete(&deleted);
    }
    OpenTester(const OpenTester&) = delete;
    OpenTester& operator=(const OpenTester&) = delete;

    ActionResult run(ULONG action, const ParameterArray& parameters) {
        SAFEARRAY* results = nullptr;
        ULONG state = static_cast<ULONG>(ActionResult::Error);
        tester_->ExecuteAction(action, parameters.get(), &results, &state);
        if (results) SafeArrayDestroy(results);
        return static_cast<ActionResult>(state);
    }
    ITester3& tester() { return *tester_.get(); }
    ScriptedLink& link() { return *static_cast<ScriptedSerial&>(static_cast<Tester&>(*tester_.get())).scripted; }

    // Queues `bytes` as received, in chunks of `chunkBytes`.
    void receive(std::string_view bytes, std::size_t chunkBytes = linkChunkBytes) {
        for (std::size_t at = 0; at < bytes.size(); at += chunkBytes) link().receive(bytes.substr(at, chunkBytes));
    }

private:
    DiscardingHost host_; // outlives the tester, which holds a reference to it
    ComPtr<ITester3> tester_;
};

} // namespace bench
