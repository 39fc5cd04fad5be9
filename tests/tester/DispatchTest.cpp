// Under Windows: the C++ declarations of the host's interfaces have the
// slot order of the type library (each method the library describes is
// called through its table offset and must land in the C++ method of the
// same name), and a tester finds the library once it is registered.
#include "ProbeTester.h"

#include "quillon/quillon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Method {
    std::string name;
    SHORT tableOffset;
};

// Every method of a dual interface and its bases (IDispatch's excluded), with its table offset.
std::vector<Method> methodsOf(ITypeLib* library, REFIID iid) {
    std::vector<Method> methods;
    ITypeInfo* info = nullptr;
    if (FAILED(library->GetTypeInfoOfGuid(iid, &info))) return methods;
    TYPEATTR* attributes = nullptr;
    info->GetTypeAttr(&attributes);
    if (attributes->typekind == TKIND_DISPATCH) {
        HREFTYPE vtableReference = 0;
        ITypeInfo* vtableInfo = nullptr;
        info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableReference);
        info->GetRefTypeInfo(vtableReference, &vtableInfo);
        info->ReleaseTypeAttr(attributes);
        info->Release();
        info = vtableInfo;
        info->GetTypeAttr(&attributes);
    }
    while (info) {
        BSTR interfaceName = nullptr;
        info->GetDocumentation(MEMBERID_NIL, &interfaceName, nullptr, nullptr, nullptr);
        const bool isDispatch = textOf(interfaceName) == "IDispatch";
        SysFreeString(interfaceName);
        ITypeInfo* base = nullptr;
        if (!isDispatch) {
            for (UINT i = 0; i < attributes->cFuncs; ++i) {
                FUNCDESC* function = nullptr;
                info->GetFuncDesc(i, &function);
                BSTR name = nullptr;
                info->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr);
                methods.push_back({textOf(name), function->oVft});
                SysFreeString(name);
                info->ReleaseFuncDesc(function);
            }
            HREFTYPE baseReference = 0;
            if (attributes->cImplTypes > 0 && SUCCEEDED(info->GetRefTypeOfImplType(0, &baseReference)))
                info->GetRefTypeInfo(baseReference, &base);
        }
        info->ReleaseTypeAttr(attributes);
        info->Release();
        info = base;
        if (info) info->GetTypeAttr(&attributes);
    }
    return methods;
}

// Calls the method at a table offset with no arguments; the probes ignore theirs.
void callAt(void* object, SHORT tableOffset) {
    VARIANT result;
    VariantInit(&result);
    DispCallFunc(object, static_cast<ULONG_PTR>(tableOffset), CC_STDCALL, VT_ERROR, 0, nullptr, nullptr, &result);
}

// Records which C++ method a table slot reached.
struct Recorder {
    std::string last;
    HRESULT record(const char* name) {
        last = name;
        return S_OK;
    }
};


#define PROBE_UNKNOWN_AND_DISPATCH                                                                                    \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return record("QueryInterface"); }            \
    ULONG STDMETHODCALLTYPE AddRef() override { return record("AddRef"), 1; }                                        \
    ULONG STDMETHODCALLTYPE Release() override { return record("Release"), 1; }                                      \
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return record("GetTypeInfoCount"); }                \
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return record("GetTypeInfo"); }        \
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {                       \
        return record("GetIDsOfNames");                                                                              \
    }                                                                                                                \
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { \
        return record("Invoke");                                                                                     \
    }

struct TesterProbe : ITester3, Recorder {
    PROBE_UNKNOWN_AND_DISPATCH
    HRESULT STDMETHODCALLTYPE GetActionCount(ULONG*) override { return record("GetActionCount"); }
    HRESULT STDMETHODCALLTYPE GetActionName(ULONG, BSTR*) override { return record("GetActionName"); }
    HRESULT STDMETHODCALLTYPE ExecuteAction(ULONG, SAFEARRAY*, SAFEARRAY**, ULONG*) override { return record("ExecuteAction"); }
    HRESULT STDMETHODCALLTYPE GetActionInfo(ULONG, BSTR*, SAFEARRAY**, SAFEARRAY**) override { return record("GetActionInfo"); }
    HRESULT STDMETHODCALLTYPE New(SAFEARRAY*, VARIANT_BOOL*) override { return record("New"); }
    HRESULT STDMETHODCALLTYPE Delete(VARIANT_BOOL*) override { return record("Delete"); }
    HRESULT STDMETHODCALLTYPE Abort() override { return record("Abort"); }
    HRESULT STDMETHODCALLTYPE GetName(BSTR*) override { return record("GetName"); }
    HRESULT STDMETHODCALLTYPE GetStatus(BSTR*) override { return record("GetStatus"); }
    HRESULT STDMETHODCALLTYPE SetHost(ITesterHost*) override { return record("SetHost"); }
    HRESULT STDMETHODCALLTYPE GetVersion(BSTR*) override { return record("GetVersion"); }
    HRESULT STDMETHODCALLTYPE SetScriptDirectory(BSTR) override { return record("SetScriptDirectory"); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR*) override { return record("GetDescription"); }
    HRESULT STDMETHODCALLTYPE GetNewActionInfo(BSTR*, SAFEARRAY**) override { return record("GetNewActionInfo"); }
    HRESULT STDMETHODCALLTYPE GetTesterFlags(ULONG*) override { return record("GetTesterFlags"); }
    HRESULT STDMETHODCALLTYPE GetChildTester(ULONG, ITester**) override { return record("GetChildTester"); }
};

struct CreatorProbe : ITesterCreator1, Recorder {
    PROBE_UNKNOWN_AND_DISPATCH
    HRESULT STDMETHODCALLTYPE GetTesterCount(ULONG*) override { return record("GetTesterCount"); }
    HRESULT STDMETHODCALLTYPE CreateTester(LONG, ITester**) override { return record("CreateTester"); }
    HRESULT STDMETHODCALLTYPE GetCreatorVersion(BSTR*) override { return record("GetCreatorVersion"); }
};

struct HostProbe : ITesterHost, Recorder {
    PROBE_UNKNOWN_AND_DISPATCH
    HRESULT STDMETHODCALLTYPE Log(ULONG, BSTR) override { return record("Log"); }
};

struct ParserProbe : IValueParser, Recorder {
    PROBE_UNKNOWN_AND_DISPATCH
    HRESULT STDMETHODCALLTYPE GetSyntax(BSTR*) override { return record("GetSyntax"); }
    HRESULT STDMETHODCALLTYPE parse(BSTR, SAFEARRAY**) override { return record("parse"); }
};

template <class Probe>
void expectSlotsMatch(ITypeLib* library, REFIID iid, std::size_t expectedMethods) {
    Probe probe;
    const auto methods = methodsOf(library, iid);
    ASSERT_EQ(methods.size(), expectedMethods);
    for (const auto& method : methods) {
        probe.last.clear();
        callAt(static_cast<void*>(&probe), method.tableOffset);
        EXPECT_EQ(probe.last, method.name) << "table offset " << method.tableOffset;
    }
}

ITypeLib* loadLibraryFile(const char* path, REGKIND kind = REGKIND_NONE) {
    std::wstring wide(path, path + std::char_traits<char>::length(path));
    ITypeLib* library = nullptr;
    LoadTypeLibEx(wide.c_str(), kind, &library);
    return library;
}

TEST(HostInterfaces, CppSlotOrderEqualsTheTypeLibrary) {
    for (const char* path : {QUILLON_TLB_V1, QUILLON_TLB_V2}) {
        ITypeLib* library = loadLibraryFile(path);
        ASSERT_NE(library, nullptr) << path;
        expectSlotsMatch<TesterProbe>(library, IID_ITester3, 16);
        expectSlotsMatch<CreatorProbe>(library, IID_ITesterCreator1, 3);
        expectSlotsMatch<HostProbe>(library, IID_ITesterHost, 1);
        expectSlotsMatch<ParserProbe>(library, IID_IValueParser, 2);
        library->Release();
    }
}

void registerLibrary(const char* path) {
    ITypeLib* library = loadLibraryFile(path, REGKIND_REGISTER);
    ASSERT_NE(library, nullptr) << path;
    library->Release();
}

TEST(TesterDispatch, LoadsTheRegisteredLibraryOnFirstUseAndRetriesUntilItIsThere) {
    UnRegisterTypeLib(LIBID_QuillonLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
    UnRegisterTypeLib(LIBID_QuillonLib, 2, 0, LOCALE_NEUTRAL, SYS_WIN64);
    const auto tester = makeTester<ProbeTester>();
    ASSERT_TRUE(tester);

    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_TRUE(FAILED(tester->GetTypeInfo(0, 0, &info))) << "not registered yet";
    EXPECT_EQ(info, nullptr);
    ULONG count = 0;
    EXPECT_EQ(tester->GetActionCount(&count), S_OK) << "direct slots work without the library";

    registerLibrary(QUILLON_TLB_V1);
    registerLibrary(QUILLON_TLB_V2);
    ASSERT_EQ(tester->GetTypeInfo(0, 0, &info), S_OK) << "a later call tries again";
    ASSERT_NE(info, nullptr);
    info->Release();
}

} // namespace
