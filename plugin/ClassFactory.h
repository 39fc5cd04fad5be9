// The class object of the module's COM classes, driven by a table of class
// identifiers and creation functions.
#pragma once

#include "platform/automation.h"

#include <atomic>

struct ClassEntry {
    const CLSID* clsid;
    HRESULT (*create)(IUnknown* outer, REFIID iid, void** object);
};

// The class object of a class of this module: made on first request and
// kept until releaseClassObjects. CLASS_E_CLASSNOTAVAILABLE for other classes.
HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** object);

// Drops the module's references to the class objects it kept.
void releaseClassObjects();

// The module keeps one reference to each class object it made; references
// handed out beyond that one hold a module lock, so the module does not
// unload while a client keeps a class object. LockServer counts as well; an
// unlock without a matching lock is refused with E_UNEXPECTED.
class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

    // Made with the module's one reference.
    explicit ClassFactory(const ClassEntry& entry) : entry_(entry) {}

private:
    ~ClassFactory() = default;

    const ClassEntry& entry_;
    std::atomic<ULONG> references_{1};
};
