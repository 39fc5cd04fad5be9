// The tester table of the test plug-in: 0 the echo tester; 1 a slot with no
// tester, as the plug-in has for a tester not built yet.
#include "plugin/Testers.h"
#include "com/ComObject.h"
#include "tests/plugin/EchoTester.h"

namespace {

HRESULT makeEcho(ITester** tester) {
    return ComObject<EchoTester>::create(IID_ITester, reinterpret_cast<void**>(tester));
}

constexpr TesterMaker makers[] = {
    {"echo", makeEcho},
    {"missing", nullptr},
};

} // namespace

std::span<const TesterMaker> testerMakers() { return makers; }

void releaseTesterResources() {}
