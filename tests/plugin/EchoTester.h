// A tester for tests of the plug-in boundary and of our host: its actions
// hand back what they were given, set a chosen result state, log, wait for
// an abort, and call the host's value parser.
#pragma once

#include "tester/Tester.h"

class EchoTester : public Tester {
public:
    EchoTester();

protected:
    ActionResult executeAction(std::uint32_t actionId, std::uint32_t count, const VARIANT* parameters) override;
    bool onNew(std::uint32_t count, const VARIANT* parameters) override;

private:
    ActionResult wait(std::uint32_t count, const VARIANT* parameters, bool heedAbort);
    ActionResult parse(std::uint32_t count, const VARIANT* parameters);
};
