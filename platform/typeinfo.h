// Type information from registered type libraries, and dispatch through it.
// Where the platform has no type-library registry, loading fails with
// TYPE_E_LIBNOTREGISTERED and the dispatch calls are never reached.
#pragma once

#include "platform/automation.h"

namespace platform {

HRESULT loadRegisteredTypeInfo(REFGUID library, WORD major, WORD minor, REFIID interfaceId, ITypeInfo** info);
void addRefTypeInfo(ITypeInfo* info);
void releaseTypeInfo(ITypeInfo* info);
HRESULT idsOfNamesThroughTypeInfo(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids);
HRESULT invokeThroughTypeInfo(ITypeInfo* info, void* object, DISPID id, WORD flags, DISPPARAMS* params,
                              VARIANT* result, EXCEPINFO* exception, UINT* argError);

} // namespace platform
