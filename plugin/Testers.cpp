// The plug-in's testers: 0 the "serial" tester; 1 the "ScriptProxy" tester,
// which is not built yet and is refused like any index out of range.
#include "plugin/Testers.h"

#include "links/SerialCreator.h"
#include "serial/Serial.h"
#include "com/ComObject.h"

namespace {

HRESULT makeSerial(ITester** tester) {
    return ComObject<Serial>::create(IID_ITester, reinterpret_cast<void**>(tester));
}

constexpr TesterMaker makers[] = {
    {"serial", makeSerial},
    {"ScriptProxy", nullptr},
};

} // namespace

std::span<const TesterMaker> testerMakers() { return makers; }

void releaseTesterResources() { SerialCreator::release(); }
