// The plug-in's testers: 0 the "serial" tester, 1 the "ScriptProxy" tester.
#include "plugin/Testers.h"

#include "links/SerialCreator.h"
#include "proxy/ProxyTester.h"
#include "serial/Serial.h"
#include "com/ComObject.h"

namespace {

template <class T>
HRESULT make(ITester** tester) {
    return ComObject<T>::create(IID_ITester, reinterpret_cast<void**>(tester));
}

constexpr TesterMaker makers[] = {
    {"serial", make<Serial>},
    {"ScriptProxy", make<ProxyTester>},
};

} // namespace

std::span<const TesterMaker> testerMakers() { return makers; }

void releaseTesterResources() { SerialCreator::release(); }
