// A tester for tests of the plug-in boundary and of our host: its actions
// hand back what they were given, set a chosen result state, log, wait for
// an abort, call the host's value parser, raise the interrupt signal in
// the host just before an action starts, and log from the tester's own
// destructor.
#pragma once

#include "tester/Tester.h"

#include <atomic>

class EchoTester : public Tester {
public:
    EchoTester();
    ~EchoTester() override;

    HRESULT STDMETHODCALLTYPE ExecuteAction(ULONG index, SAFEARRAY* parameters, SAFEARRAY** results,
                                            ULONG* result) override;
    HRESULT STDMETHODCALLTYPE Abort() override;

protected:
    ActionResult executeAction(std::uint32_t actionId, std::uint32_t count, const VARIANT* parameters) override;
    bool onNew(std::uint32_t count, const VARIANT* parameters) override;

private:
    ActionResult wait(std::uint32_t count, const VARIANT* parameters, bool heedAbort);
    ActionResult parse(std::uint32_t count, const VARIANT* parameters);

    std::atomic<int> aborts_{0}; // Abort calls so far
    std::atomic<bool> stubbornRunning_{false};
    std::atomic<bool> farewell_{false}; // log "farewell" when destroyed
};
