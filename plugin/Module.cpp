// The entry points DllGetClassObject and DllCanUnloadNow, the same in every
// build. Registration has one file per platform.
#include "plugin/Module.h"

#include "plugin/ClassFactory.h"
#include "plugin/Testers.h"
#include "plugin/VarnelPlugin.h"
#include "com/ModuleLock.h"

extern "C" HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    try {
        return getClassObject(clsid, iid, object);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

extern "C" HRESULT STDMETHODCALLTYPE DllCanUnloadNow() {
    return ModuleLock::count() == 0 ? S_OK : S_FALSE;
}

void terminateModule() {
    releaseClassObjects();
    releaseTesterResources();
}
