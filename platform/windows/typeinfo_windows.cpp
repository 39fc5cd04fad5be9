// Type information from the registry's type libraries (oleaut32).
#include "platform/typeinfo.h"

namespace platform {

HRESULT loadRegisteredTypeInfo(REFGUID library, WORD major, WORD minor, REFIID interfaceId, ITypeInfo** info) {
    *info = nullptr;
    ITypeLib* typeLib = nullptr;
    HRESULT hr = LoadRegTypeLib(library, major, minor, LOCALE_NEUTRAL, &typeLib);
    if (FAILED(hr)) return hr;
    hr = typeLib->GetTypeInfoOfGuid(interfaceId, info);
    typeLib->Release();
    return hr;
}

void addRefTypeInfo(ITypeInfo* info) {
    if (info) info->AddRef();
}

void releaseTypeInfo(ITypeInfo* info) {
    if (info) info->Release();
}

HRESULT idsOfNamesThroughTypeInfo(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids) {
    return DispGetIDsOfNames(info, names, count, ids);
}

HRESULT invokeThroughTypeInfo(ITypeInfo* info, void* object, DISPID id, WORD flags, DISPPARAMS* params,
                              VARIANT* result, EXCEPINFO* exception, UINT* argError) {
    return DispInvoke(object, info, id, flags, params, result, exception, argError);
}

} // namespace platform
