// The creator's two dispatch tables under Windows: ITesterCreator1 typed
// from the host's library (version 2.0), IVarnelCreator from the plug-in's
// own library once the plug-in is registered.
#include "tests/plugin/PluginModule.h"

#include <oleauto.h>

#include <cstring>

namespace {

// Registers a type library file for the life of the object.
class RegisteredTypeLibrary {
public:
    explicit RegisteredTypeLibrary(const wchar_t* file) {
        ITypeLib* library = nullptr;
        result = LoadTypeLibEx(file, REGKIND_REGISTER, &library);
        if (SUCCEEDED(result)) {
            TLIBATTR* attributes = nullptr;
            library->GetLibAttr(&attributes);
            attributes_ = *attributes;
            library->ReleaseTLibAttr(attributes);
            library->Release();
        }
    }
    ~RegisteredTypeLibrary() {
        if (SUCCEEDED(result))
            UnRegisterTypeLib(attributes_.guid, attributes_.wMajorVerNum, attributes_.wMinorVerNum, attributes_.lcid,
                              attributes_.syskind);
    }
    RegisteredTypeLibrary(const RegisteredTypeLibrary&) = delete;
    RegisteredTypeLibrary& operator=(const RegisteredTypeLibrary&) = delete;
    HRESULT result;

private:
    TLIBATTR attributes_{};
};

std::wstring wide(const char* text) { return std::wstring(text, text + std::strlen(text)); }

GUID typeGuid(IDispatch* object) {
    ITypeInfo* info = nullptr;
    EXPECT_EQ(object->GetTypeInfo(0, 0, &info), S_OK);
    if (!info) return {};
    TYPEATTR* attributes = nullptr;
    info->GetTypeAttr(&attributes);
    const GUID guid = attributes->guid;
    info->ReleaseTypeAttr(attributes);
    info->Release();
    return guid;
}

} // namespace

TEST_F(PluginDll, DispatchesThroughTheHostsLibrary) {
    ComRef<IDispatch> creator = plugin.createCreator();
    ASSERT_TRUE(creator);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(static_cast<std::uintptr_t>(0xDEADBEEF));
    EXPECT_EQ(creator->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);

    const RegisteredTypeLibrary quillon(wide(QUILLON_TLB_V2).c_str());
    ASSERT_EQ(quillon.result, S_OK);
    EXPECT_TRUE(IsEqualGUID(typeGuid(creator.get()), IID_ITesterCreator1));
    OLECHAR name[] = L"GetTesterCount";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    ASSERT_EQ(creator->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    VARIANT result;
    VariantInit(&result);
    DISPPARAMS none{};
    ASSERT_EQ(creator->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.vt, VT_UI4);
    EXPECT_EQ(result.ulVal, 2u);
}

TEST_F(PluginDll, DispatchesItsOwnInterfaceOnceRegistered) {
    ComRef<IUnknown> creator = plugin.createCreator();
    IDispatch* own = nullptr;
    ASSERT_EQ(creator->QueryInterface(IID_IVarnelCreator, reinterpret_cast<void**>(&own)), S_OK);
    ASSERT_EQ(plugin.entry("DllRegisterServer")(), S_OK);
    EXPECT_TRUE(IsEqualGUID(typeGuid(own), IID_IVarnelCreator));
    own->Release();
    EXPECT_EQ(plugin.entry("DllUnregisterServer")(), S_OK);
}
