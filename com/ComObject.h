// The reference-counted COM object around a class that implements
// interfaces: T supplies `void* findInterface(REFIID)` (the identity table,
// in answer order) and ComObject supplies IUnknown. Each object holds one
// module lock for its whole lifetime, T's constructor and destructor included.
#pragma once

#include "platform/automation.h"
#include "com/ModuleLock.h"

#include <atomic>
#include <new>
#include <utility>

template <class T>
class ComObject final : private ModuleLockHolder, public T {
public:
    template <class... Args>
    explicit ComObject(Args&&... args) : T(std::forward<Args>(args)...) {}

    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // Makes a new object and asks it for `iid`; the caller owns the one
    // reference that `out` receives. E_OUTOFMEMORY if it cannot be made.
    template <class... Args>
    static HRESULT create(REFIID iid, void** out, Args&&... args) {
        if (!out) return E_POINTER;
        *out = nullptr;
        ComObject* object = nullptr;
        try {
            object = new ComObject(std::forward<Args>(args)...);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        object->AddRef();
        const HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = this->findInterface(iid);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }

    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<ULONG> references_{0};
};
