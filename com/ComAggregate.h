// A COM object made as part of an aggregate: its interfaces delegate
// IUnknown to the outer object, and the outer object holds the inner,
// non-delegating IUnknown that controls the lifetime. T supplies
// `void* findInterface(REFIID)` as for ComObject. Holds one module lock for
// its whole lifetime, T's constructor and destructor included.
#pragma once

#include "platform/automation.h"
#include "com/ModuleLock.h"

#include <atomic>
#include <utility>

template <class T>
class ComAggregate final : private ModuleLockHolder, public T {
public:
    template <class... Args>
    ComAggregate(IUnknown* outer, Args&&... args) : T(std::forward<Args>(args)...), outer_(outer), inner_(*this) {}
    ComAggregate(const ComAggregate&) = delete;
    ComAggregate& operator=(const ComAggregate&) = delete;

    // Makes an aggregated object; `inner` receives its non-delegating
    // IUnknown with one reference, owned by the outer object.
    template <class... Args>
    static HRESULT create(IUnknown* outer, void** inner, Args&&... args) {
        if (!inner) return E_POINTER;
        *inner = nullptr;
        if (!outer) return E_INVALIDARG;
        ComAggregate* object = nullptr;
        try {
            object = new ComAggregate(outer, std::forward<Args>(args)...);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        object->inner_.AddRef();
        *inner = static_cast<IUnknown*>(&object->inner_);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { return outer_->QueryInterface(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return outer_->Release(); }

private:
    class Inner final : public IUnknown {
    public:
        explicit Inner(ComAggregate& owner) : owner_(owner) {}

        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
            if (!out) return E_POINTER;
            if (IsEqualIID(iid, IID_IUnknown)) {
                *out = static_cast<IUnknown*>(this);
                AddRef();
                return S_OK;
            }
            *out = owner_.findInterface(iid);
            if (!*out) return E_NOINTERFACE;
            static_cast<IUnknown*>(*out)->AddRef(); // counted on the outer object
            return S_OK;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
        ULONG STDMETHODCALLTYPE Release() override {
            const ULONG left = --references_;
            if (left == 0) delete &owner_;
            return left;
        }

    private:
        ComAggregate& owner_;
        std::atomic<ULONG> references_{0};
    };

    IUnknown* outer_; // not counted: the outer object owns us
    Inner inner_;
};
