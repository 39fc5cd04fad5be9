// No type-library registry here: the dispatch slots report the library as
// not registered, and the direct slots carry all calls.
#include "platform/typeinfo.h"

namespace platform {

HRESULT loadRegisteredTypeInfo(REFGUID, WORD, WORD, REFIID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return TYPE_E_LIBNOTREGISTERED;
}

void addRefTypeInfo(ITypeInfo*) {}
void releaseTypeInfo(ITypeInfo*) {}

HRESULT idsOfNamesThroughTypeInfo(ITypeInfo*, LPOLESTR*, UINT, DISPID*) {
    return TYPE_E_LIBNOTREGISTERED;
}

HRESULT invokeThroughTypeInfo(ITypeInfo*, void*, DISPID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return TYPE_E_LIBNOTREGISTERED;
}

} // namespace platform
