// Type information of one interface from a registered type library, loaded
// on first use under the module mutex. A failed load is not remembered: the
// next call tries again, so registering the library later still works.
#pragma once

#include "platform/automation.h"
#include "platform/typeinfo.h"
#include "com/ModuleLock.h"

class TypeInfoHolder {
public:
    TypeInfoHolder(const GUID& library, WORD major, WORD minor, const IID& interfaceId)
        : library_(library), major_(major), minor_(minor), interfaceId_(interfaceId) {}
    ~TypeInfoHolder() { platform::releaseTypeInfo(info_); }
    TypeInfoHolder(const TypeInfoHolder&) = delete;
    TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;

    // The loaded type information, still owned by the holder.
    HRESULT get(ITypeInfo** info) {
        std::lock_guard guard(ModuleLock::mutex());
        if (!info_) {
            const HRESULT hr = platform::loadRegisteredTypeInfo(library_, major_, minor_, interfaceId_, &info_);
            if (FAILED(hr)) {
                info_ = nullptr;
                *info = nullptr;
                return hr;
            }
        }
        *info = info_;
        return S_OK;
    }

    // The standard IDispatch methods of an object whose interface this holder describes.
    HRESULT getTypeInfo(UINT index, ITypeInfo** info) {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        ITypeInfo* loaded = nullptr;
        const HRESULT hr = get(&loaded);
        if (FAILED(hr)) return hr;
        platform::addRefTypeInfo(loaded);
        *info = loaded;
        return S_OK;
    }

    HRESULT getIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) {
        ITypeInfo* loaded = nullptr;
        const HRESULT hr = get(&loaded);
        if (FAILED(hr)) return hr;
        return platform::idsOfNamesThroughTypeInfo(loaded, names, count, ids);
    }

    HRESULT invoke(void* object, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                   UINT* argError) {
        ITypeInfo* loaded = nullptr;
        const HRESULT hr = get(&loaded);
        if (FAILED(hr)) return hr;
        return platform::invokeThroughTypeInfo(loaded, object, id, flags, params, result, exception, argError);
    }

private:
    const GUID library_;
    const WORD major_;
    const WORD minor_;
    const IID interfaceId_;
    ITypeInfo* info_ = nullptr;
};
