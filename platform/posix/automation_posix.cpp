// Automation types for builds without oleaut32: BSTR, VARIANT, SAFEARRAY
// and the process's table of registered class objects.
#include "platform/posix/automation_posix.h"

#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace {

// A BSTR points just past a 32-bit byte count and is followed by a 16-bit NUL.
constexpr std::size_t bstrPrefix = sizeof(std::uint32_t);

std::uint32_t* bstrHeader(BSTR text) {
    return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(text) - bstrPrefix);
}

// SAFEARRAYs keep their element type just in front of the descriptor, as Windows does.
struct SafeArrayBlock {
    VARTYPE type;
    SAFEARRAY array;
};

SafeArrayBlock* blockOf(SAFEARRAY* array) {
    return reinterpret_cast<SafeArrayBlock*>(reinterpret_cast<char*>(array) - offsetof(SafeArrayBlock, array));
}

// What the system accepts as a VARIANT's tag; anything else is refused with
// DISP_E_BADVARTYPE and left as it is.
bool validVariantType(VARTYPE vt) {
    constexpr VARTYPE vector = 0x1000, reserved = 0x8000, typeMask = 0x0FFF;
    constexpr VARTYPE voidType = 24, record = 36, clsid = 72;
    const VARTYPE base = vt & typeMask;
    if (vt & (vector | reserved)) return false;
    if (base >= voidType && base != record && base != clsid) return false;
    if ((vt & (VT_BYREF | VT_ARRAY)) && base <= VT_NULL) return false;
    return base != 15;
}

// A vector's features: made as a vector, its element type stored, and the
// kind of element that destroying it releases.
constexpr USHORT createdAsVector = 0x2000;

USHORT vectorFeatures(VARTYPE type) {
    USHORT features = createdAsVector | FADF_HAVEVARTYPE;
    if (type == VT_BSTR) features |= FADF_BSTR;
    if (type == VT_VARIANT) features |= FADF_VARIANT;
    if (type == VT_UNKNOWN) features |= FADF_UNKNOWN;
    if (type == VT_DISPATCH) features |= FADF_DISPATCH;
    return features;
}

std::size_t elementSize(VARTYPE type) {
    switch (type) {
    case VT_I2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_R4: case VT_INT: case VT_UINT: case VT_ERROR: return 4;
    case VT_R8: case VT_DATE: case VT_I8: case VT_UI8: return 8;
    case VT_I1: case VT_UI1: return 1;
    case VT_BSTR: case VT_UNKNOWN: case VT_DISPATCH: return sizeof(void*);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
    }
}

void clearElements(SAFEARRAY* array, VARTYPE type) {
    const ULONG count = array->rgsabound[0].cElements;
    if (type == VT_BSTR) {
        auto* items = static_cast<BSTR*>(array->pvData);
        for (ULONG i = 0; i < count; ++i) {
            SysFreeString(items[i]);
            items[i] = nullptr;
        }
    } else if (type == VT_VARIANT) {
        auto* items = static_cast<VARIANT*>(array->pvData);
        for (ULONG i = 0; i < count; ++i) VariantClear(&items[i]);
    } else if (type == VT_UNKNOWN || type == VT_DISPATCH) {
        auto* items = static_cast<IUnknown**>(array->pvData);
        for (ULONG i = 0; i < count; ++i) {
            if (items[i]) items[i]->Release();
            items[i] = nullptr;
        }
    }
}

SAFEARRAY* copyArray(SAFEARRAY* source) {
    if (!source) return nullptr;
    const VARTYPE type = blockOf(source)->type;
    const ULONG count = source->rgsabound[0].cElements;
    SAFEARRAY* copy = SafeArrayCreateVector(type, source->rgsabound[0].lLbound, count);
    if (!copy) return nullptr;
    if (type == VT_BSTR) {
        auto* from = static_cast<BSTR*>(source->pvData);
        auto* to = static_cast<BSTR*>(copy->pvData);
        for (ULONG i = 0; i < count; ++i)
            if (from[i]) to[i] = SysAllocStringLen(from[i], SysStringLen(from[i]));
    } else if (type == VT_VARIANT) {
        auto* from = static_cast<VARIANT*>(source->pvData);
        auto* to = static_cast<VARIANT*>(copy->pvData);
        for (ULONG i = 0; i < count; ++i) VariantCopy(&to[i], &from[i]);
    } else if (type == VT_UNKNOWN || type == VT_DISPATCH) {
        auto* from = static_cast<IUnknown**>(source->pvData);
        auto* to = static_cast<IUnknown**>(copy->pvData);
        for (ULONG i = 0; i < count; ++i)
            if ((to[i] = from[i]) != nullptr) to[i]->AddRef();
    } else {
        std::memcpy(copy->pvData, source->pvData, count * copy->cbElements);
    }
    return copy;
}

struct ClassRegistration {
    DWORD cookie;
    CLSID clsid;
    IUnknown* factory;
};

std::mutex classTableLock;
std::vector<ClassRegistration> classTable;
DWORD nextCookie = 1;

} // namespace

extern "C" {

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    // The byte count must fit the 32-bit prefix with room for the terminator.
    if (length >= (UINT32_MAX - sizeof(OLECHAR) - bstrPrefix) / sizeof(OLECHAR)) return nullptr;
    const std::size_t bytes = static_cast<std::size_t>(length) * sizeof(OLECHAR);
    auto* memory = static_cast<char*>(std::malloc(bstrPrefix + bytes + sizeof(OLECHAR)));
    if (!memory) return nullptr;
    *reinterpret_cast<std::uint32_t*>(memory) = static_cast<std::uint32_t>(bytes);
    auto* result = reinterpret_cast<BSTR>(memory + bstrPrefix);
    // Without a text the string is left for the caller to fill, as the
    // system library leaves it.
    if (text) std::memcpy(result, text, bytes);
    result[length] = 0;
    return result;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    UINT length = 0;
    while (text[length]) ++length;
    return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text) {
    if (text) std::free(bstrHeader(text));
}

UINT SysStringLen(BSTR text) {
    return text ? *bstrHeader(text) / sizeof(OLECHAR) : 0;
}

void VariantInit(VARIANT* value) {
    if (!value) return;
    value->vt = VT_EMPTY;
    value->wReserved1 = value->wReserved2 = value->wReserved3 = 0;
    value->record = {nullptr, nullptr};
}

HRESULT VariantClear(VARIANT* value) {
    if (!value) return E_INVALIDARG;
    if (!validVariantType(value->vt)) return DISP_E_BADVARTYPE;
    if (!(value->vt & VT_BYREF)) {
        if (value->vt & VT_ARRAY) {
            // A locked array fails and stays, but the value is emptied all the same.
            const HRESULT hr = SafeArrayDestroy(value->parray);
            if (FAILED(hr)) {
                VariantInit(value);
                return hr;
            }
        } else if (value->vt == VT_BSTR) {
            SysFreeString(value->bstrVal);
        } else if (value->vt == VT_UNKNOWN || value->vt == VT_DISPATCH) {
            if (value->punkVal) value->punkVal->Release();
        }
    }
    VariantInit(value);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* destination, VARIANT* source) {
    if (!destination || !source) return E_INVALIDARG;
    if (!validVariantType(source->vt)) return DISP_E_BADVARTYPE;
    if (destination == source) return S_OK;
    const HRESULT hr = VariantClear(destination);
    if (FAILED(hr)) return hr;
    *destination = *source;
    if (source->vt & VT_BYREF) return S_OK;
    if (source->vt & VT_ARRAY) {
        if (source->parray && !(destination->parray = copyArray(source->parray))) {
            VariantInit(destination);
            return E_OUTOFMEMORY;
        }
    } else if (source->vt == VT_BSTR) {
        // Even a null text is copied as a new, empty one.
        if (!(destination->bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal)))) {
            VariantInit(destination);
            return E_OUTOFMEMORY;
        }
    } else if (source->vt == VT_UNKNOWN || source->vt == VT_DISPATCH) {
        if (source->punkVal) source->punkVal->AddRef();
    }
    return S_OK;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE type, LONG lowerBound, ULONG elements) {
    const std::size_t size = elementSize(type);
    if (size == 0) return nullptr;
    // One allocation: the descriptor, then the elements (at an offset that
    // keeps them aligned as malloc aligns), as the system library lays a vector out.
    constexpr std::size_t dataOffset =
        (sizeof(SafeArrayBlock) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) * alignof(std::max_align_t);
    const std::size_t count = elements ? elements : 1;
    if (count > (SIZE_MAX - dataOffset) / size) return nullptr;
    auto* memory = static_cast<char*>(std::calloc(1, dataOffset + count * size));
    if (!memory) return nullptr;
    auto* block = reinterpret_cast<SafeArrayBlock*>(memory);
    block->type = type;
    SAFEARRAY* array = &block->array;
    array->cDims = 1;
    array->fFeatures = vectorFeatures(type);
    array->cbElements = static_cast<ULONG>(size);
    array->pvData = memory + dataOffset;
    array->rgsabound[0] = {elements, lowerBound};
    return array;
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    if (!array) return S_OK;
    if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    SafeArrayBlock* block = blockOf(array);
    clearElements(array, block->type);
    std::free(block); // the elements live in the same block
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* array) {
    if (!array) return E_INVALIDARG;
    if (array->cLocks >= 0xFFFF) return E_UNEXPECTED; // the lock count is 16 bits wide on Windows
    ++array->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* array) {
    if (!array) return E_INVALIDARG;
    if (array->cLocks == 0) return E_UNEXPECTED;
    --array->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
    if (!array || !data) return E_INVALIDARG;
    const HRESULT hr = SafeArrayLock(array);
    *data = SUCCEEDED(hr) ? array->pvData : nullptr;
    return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) {
    return SafeArrayUnlock(array);
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* bound) {
    if (!array || !bound) return E_INVALIDARG;
    if (dimension != 1) return DISP_E_BADINDEX;
    *bound = array->rgsabound[0].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* bound) {
    if (!array || !bound) return E_INVALIDARG;
    if (dimension != 1) return DISP_E_BADINDEX;
    *bound = array->rgsabound[0].lLbound + static_cast<LONG>(array->rgsabound[0].cElements) - 1;
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* array) {
    return array ? array->cDims : 0;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* type) {
    if (!array || !type) return E_INVALIDARG;
    *type = blockOf(array)->type;
    return S_OK;
}

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD, DWORD, DWORD* cookie) {
    if (!factory || !cookie) return E_INVALIDARG;
    std::lock_guard guard(classTableLock);
    factory->AddRef();
    classTable.push_back({nextCookie, clsid, factory});
    *cookie = nextCookie++;
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
    IUnknown* factory = nullptr;
    {
        std::lock_guard guard(classTableLock);
        for (auto it = classTable.begin(); it != classTable.end(); ++it) {
            if (it->cookie == cookie) {
                factory = it->factory;
                classTable.erase(it);
                break;
            }
        }
    }
    if (!factory) return E_INVALIDARG;
    factory->Release();
    return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    IUnknown* factory = nullptr;
    {
        std::lock_guard guard(classTableLock);
        for (const auto& entry : classTable) {
            if (entry.clsid == clsid) {
                factory = entry.factory;
                factory->AddRef();
                break;
            }
        }
    }
    if (!factory) return REGDB_E_CLASSNOTREG;
    IClassFactory* classFactory = nullptr;
    HRESULT hr = factory->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&classFactory));
    factory->Release();
    if (FAILED(hr)) return hr;
    hr = classFactory->CreateInstance(outer, riid, object);
    classFactory->Release();
    return hr;
}

} // extern "C"
