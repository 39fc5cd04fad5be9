// The dispatch tables under Windows: the creator's ITesterCreator1 typed from
// the host's library 2.0, its IVarnelCreator from the plug-in's own library
// once registered, and a tester's typed from the host's library 1.0.
#include "tests/plugin/PluginModule.h"
#include "tests/support/Variants.h"

#include <oleauto.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// One version of the host's type library, registered for the life of the object.
class RegisteredQuillonLibrary {
public:
    RegisteredQuillonLibrary(const char* file, WORD majorVersion) : majorVersion_(majorVersion) {
        const std::wstring path(file, file + std::strlen(file));
        ComPtr<ITypeLib> library;
        result = LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, library.put());
    }
    ~RegisteredQuillonLibrary() {
        if (SUCCEEDED(result)) UnRegisterTypeLib(LIBID_QuillonLib, majorVersion_, 0, LOCALE_NEUTRAL, SYS_WIN64);
    }
    RegisteredQuillonLibrary(const RegisteredQuillonLibrary&) = delete;
    RegisteredQuillonLibrary& operator=(const RegisteredQuillonLibrary&) = delete;
    HRESULT result;

private:
    WORD majorVersion_;
};

// A method called through IDispatch::Invoke with its arguments in script order.
HRESULT invoke(IDispatch* object, const wchar_t* name, std::vector<VARIANT> arguments, VARIANT& result) {
    std::wstring text(name);
    LPOLESTR names[] = {text.data()};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << "no dispatch identifier";
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend()); // Invoke takes them last first
    DISPPARAMS parameters{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    VariantInit(&result);
    return object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &parameters, &result, nullptr, nullptr);
}

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

TEST_F(PluginDll, CreatorDispatchesThroughTheHostsLibraryAndItsOwn) {
    const auto creator = plugin.createCreator<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(creator);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(static_cast<std::uintptr_t>(0xDEADBEEF));
    EXPECT_EQ(creator->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);

    {
        const RegisteredQuillonLibrary quillon(QUILLON_TLB_V2, 2);
        ASSERT_EQ(quillon.result, S_OK);
        EXPECT_TRUE(IsEqualGUID(typeGuid(creator.get()), IID_ITesterCreator1));
        VARIANT result;
        ASSERT_EQ(invoke(creator.get(), L"GetTesterCount", {}, result), S_OK);
        EXPECT_EQ(result.vt, VT_UI4);
        EXPECT_EQ(result.ulVal, 2u);
        // (A tester made through it: typelib.sh's loopback.vbs.) A refused index
        // comes back as the method's failure; how Invoke wraps it differs
        // between platforms, so only its failing is checked.
        EXPECT_TRUE(FAILED(invoke(creator.get(), L"CreateTester", {Value(7).get()}, result)));
        VariantClear(&result);
    }

    const auto own = ComPtr<IDispatch>::query(creator.get(), IID_IVarnelCreator);
    ASSERT_TRUE(own);
    ASSERT_EQ(plugin.entry("DllRegisterServer")(), S_OK);
    EXPECT_TRUE(IsEqualGUID(typeGuid(own.get()), IID_IVarnelCreator));
    EXPECT_EQ(plugin.entry("DllUnregisterServer")(), S_OK);
}

TEST_F(PluginDll, TestersDispatchThroughTheHostsFirstLibrary) {
    const auto creator = plugin.createCreator<ITesterCreator1>(IID_ITesterCreator1);
    ComPtr<ITester> tester;
    ASSERT_EQ(creator->CreateTester(0, tester.put()), S_OK);
    const RegisteredQuillonLibrary quillon(QUILLON_TLB_V1, 1);
    ASSERT_EQ(quillon.result, S_OK);
    EXPECT_TRUE(IsEqualGUID(typeGuid(tester.get()), IID_ITester3));
    VARIANT result;
    ASSERT_EQ(invoke(tester.get(), L"GetVersion", {}, result), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(textOf(result), "5.0");
    VariantClear(&result);
}
