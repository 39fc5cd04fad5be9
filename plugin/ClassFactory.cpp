#include "plugin/ClassFactory.h"

#include "plugin/VarnelCreator.h"
#include "com/ModuleLock.h"

#include <iterator>
#include <mutex>
#include <new>

namespace {

constexpr ClassEntry classes[] = {
    {&CLSID_VarnelCreator, CVarnelCreator::create},
};

// The kept class objects, by position in `classes`; guarded by the module mutex.
ClassFactory* keptFactories[std::size(classes)] = {};

// Module locks taken through LockServer(TRUE) and not yet given back. An
// unlock without a matching lock must not take a lock that a live object holds.
std::atomic<long> serverLocks{0};

} // namespace

HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    for (std::size_t i = 0; i < std::size(classes); ++i) {
        if (!IsEqualCLSID(*classes[i].clsid, clsid)) continue;
        ClassFactory* factory = nullptr;
        {
            std::lock_guard guard(ModuleLock::mutex());
            if (!keptFactories[i]) keptFactories[i] = new (std::nothrow) ClassFactory(classes[i]);
            factory = keptFactories[i];
            if (factory) factory->AddRef(); // held across the request below
        }
        if (!factory) return E_OUTOFMEMORY;
        const HRESULT hr = factory->QueryInterface(iid, object);
        factory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

void releaseClassObjects() {
    for (auto& kept : keptFactories) {
        ClassFactory* factory = nullptr;
        {
            std::lock_guard guard(ModuleLock::mutex());
            factory = kept;
            kept = nullptr;
        }
        if (factory) factory->Release();
    }
}

HRESULT ClassFactory::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG ClassFactory::AddRef() {
    const ULONG count = ++references_;
    if (count == 2) ModuleLock::acquire(); // the first reference beyond the module's own
    return count;
}

ULONG ClassFactory::Release() {
    const ULONG count = --references_;
    if (count == 1) ModuleLock::release();
    if (count == 0) delete this;
    return count;
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    try {
        return entry_.create(outer, iid, object);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT ClassFactory::LockServer(BOOL lock) {
    if (lock) {
        ModuleLock::acquire();
        ++serverLocks;
        return S_OK;
    }
    long held = serverLocks.load();
    do {
        if (held <= 0) return E_UNEXPECTED;
    } while (!serverLocks.compare_exchange_weak(held, held - 1));
    ModuleLock::release();
    return S_OK;
}
