// IDispatch for one dual interface of an object, typed from the type
// information its holder loads. An object with two dual interfaces derives
// from two of these, so each table answers with its own type information.
#pragma once

#include "platform/automation.h"
#include "com/TypeInfoHolder.h"

template <class Interface, TypeInfoHolder& (*typeInfo)()>
class DispatchOf : public Interface {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        try {
            return typeInfo().getTypeInfo(index, info);
        } catch (...) {
            return E_FAIL;
        }
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (count != 0 && (!names || !ids)) return E_POINTER;
        try {
            return typeInfo().getIDsOfNames(names, count, ids);
        } catch (...) {
            return E_FAIL;
        }
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argError) override {
        if (!params) return E_INVALIDARG; // as the platform's own dispatch through type information answers
        try {
            return typeInfo().invoke(static_cast<Interface*>(this), id, flags, params, result, exception, argError);
        } catch (...) {
            return E_FAIL;
        }
    }

protected:
    DispatchOf() = default;
    ~DispatchOf() = default;
};
