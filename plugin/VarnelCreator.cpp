#include "plugin/VarnelCreator.h"

#include "com/ComAggregate.h"
#include "com/ComObject.h"

TypeInfoHolder& varnelCreatorTypeInfo() {
    static TypeInfoHolder holder(LIBID_VarnelPluginLib, VarnelPluginLibMajor, VarnelPluginLibMinor,
                                 IID_IVarnelCreator);
    return holder;
}

TypeInfoHolder& testerCreatorTypeInfo() {
    static TypeInfoHolder holder(LIBID_QuillonLib, QuillonLibCreatorMajor, QuillonLibCreatorMinor,
                                 IID_ITesterCreator1);
    return holder;
}

void* CVarnelCreator::findInterface(REFIID iid) noexcept {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IVarnelCreator))
        return static_cast<IVarnelCreator*>(this);
    if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_ITesterCreator) || IsEqualIID(iid, IID_ITesterCreator1))
        return static_cast<ITesterCreator1*>(this);
    return nullptr;
}

HRESULT CVarnelCreator::GetTesterCount(ULONG* count) {
    if (!count) return E_POINTER;
    *count = static_cast<ULONG>(makers_.size());
    return S_OK;
}

HRESULT CVarnelCreator::CreateTester(LONG index, ITester** tester) {
    if (!tester) return E_POINTER;
    *tester = nullptr;
    try {
        if (index < 0 || static_cast<std::size_t>(index) >= makers_.size() || !makers_[index].make)
            return E_INVALIDARG;
        const HRESULT hr = makers_[index].make(tester);
        if (FAILED(hr)) *tester = nullptr;
        // A tester that does not answer for ITester leaves a null tester, not a failure.
        return hr == E_NOINTERFACE ? S_OK : hr;
    } catch (...) {
        *tester = nullptr;
        return E_OUTOFMEMORY;
    }
}

HRESULT CVarnelCreator::GetCreatorVersion(BSTR* version) {
    if (!version) return E_POINTER;
    static constexpr OLECHAR text[] = {'3', '.', '0', 0};
    *version = SysAllocString(text);
    return *version ? S_OK : E_OUTOFMEMORY;
}

HRESULT CVarnelCreator::create(IUnknown* outer, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) {
        // An aggregate asks for the inner IUnknown and nothing else.
        if (!IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        return ComAggregate<CVarnelCreator>::create(outer, object, testerMakers());
    }
    return ComObject<CVarnelCreator>::create(iid, object, testerMakers());
}
