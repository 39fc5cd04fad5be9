// Under Windows: each method the host's type library describes, called at
// its table offset, lands in the C++ method of that name; a tester finds the
// library once it is registered.
#include "ProbeTester.h"

#include "com/UntypedDispatch.h"
#include "quillon/quillon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Method {
    std::string name;
    SHORT tableOffset;
};

using TypeInfo = ComPtr<ITypeInfo>;

std::string nameOf(ITypeInfo* info, MEMBERID member) {
    Bstr name;
    info->GetDocumentation(member, name.put(), nullptr, nullptr, nullptr);
    return textOf(name.get());
}

TypeInfo referenced(ITypeInfo* info, UINT implemented) {
    HREFTYPE reference = 0;
    TypeInfo target;
    if (SUCCEEDED(info->GetRefTypeOfImplType(implemented, &reference))) info->GetRefTypeInfo(reference, target.put());
    return target;
}

// Every method of an interface and its bases short of IDispatch, with its
// table offset; of a dual interface, its table part.
std::vector<Method> methodsOf(ITypeLib* library, REFIID iid) {
    std::vector<Method> methods;
    TypeInfo info;
    if (FAILED(library->GetTypeInfoOfGuid(iid, info.put()))) return methods;
    if (TypeInfo table = referenced(info.get(), static_cast<UINT>(-1))) info = table;
    while (info && nameOf(info.get(), MEMBERID_NIL) != "IDispatch") {
        TYPEATTR* attributes = nullptr;
        info->GetTypeAttr(&attributes);
        const UINT functions = attributes->cFuncs;
        info->ReleaseTypeAttr(attributes);
        for (UINT i = 0; i < functions; ++i) {
            FUNCDESC* function = nullptr;
            info->GetFuncDesc(i, &function);
            methods.push_back({nameOf(info.get(), function->memid), function->oVft});
            info->ReleaseFuncDesc(function);
        }
        info = referenced(info.get(), 0);
    }
    return methods;
}

// Records which C++ method a table slot reached. The slots of IUnknown and
// IDispatch are not walked.
template <class Interface>
struct Probe : UntypedDispatch<Interface, IID_IUnknown> {
    std::string last;
    HRESULT record(const char* name) {
        last = name;
        return S_OK;
    }
};

struct TesterProbe : Probe<ITester3> {
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

struct CreatorProbe : Probe<ITesterCreator1> {
    HRESULT STDMETHODCALLTYPE GetTesterCount(ULONG*) override { return record("GetTesterCount"); }
    HRESULT STDMETHODCALLTYPE CreateTester(LONG, ITester**) override { return record("CreateTester"); }
    HRESULT STDMETHODCALLTYPE GetCreatorVersion(BSTR*) override { return record("GetCreatorVersion"); }
};

struct HostProbe : Probe<ITesterHost> {
    HRESULT STDMETHODCALLTYPE Log(ULONG, BSTR) override { return record("Log"); }
};

struct ParserProbe : Probe<IValueParser> {
    HRESULT STDMETHODCALLTYPE GetSyntax(BSTR*) override { return record("GetSyntax"); }
    HRESULT STDMETHODCALLTYPE parse(BSTR, SAFEARRAY**) override { return record("parse"); }
};

template <class InterfaceProbe>
void expectSlotsMatch(ITypeLib* library, REFIID iid, std::size_t expectedMethods) {
    InterfaceProbe probe;
    const auto methods = methodsOf(library, iid);
    ASSERT_EQ(methods.size(), expectedMethods);
    for (const auto& method : methods) {
        probe.last.clear();
        VARIANT result; // called with no arguments: the probes ignore theirs
        VariantInit(&result);
        DispCallFunc(&probe, static_cast<ULONG_PTR>(method.tableOffset), CC_STDCALL, VT_ERROR, 0, nullptr, nullptr, &result);
        EXPECT_EQ(probe.last, method.name) << "table offset " << method.tableOffset;
    }
}

ComPtr<ITypeLib> loadLibraryFile(const char* path, REGKIND kind = REGKIND_NONE) {
    const std::wstring wide(path, path + std::char_traits<char>::length(path));
    ComPtr<ITypeLib> library;
    LoadTypeLibEx(wide.c_str(), kind, library.put());
    return library;
}

TEST(HostInterfaces, CppSlotOrderEqualsTheTypeLibrary) {
    for (const char* path : {QUILLON_TLB_V1, QUILLON_TLB_V2}) {
        const auto library = loadLibraryFile(path);
        ASSERT_TRUE(library) << path;
        expectSlotsMatch<TesterProbe>(library.get(), IID_ITester3, 16);
        expectSlotsMatch<CreatorProbe>(library.get(), IID_ITesterCreator1, 3);
        expectSlotsMatch<HostProbe>(library.get(), IID_ITesterHost, 1);
        expectSlotsMatch<ParserProbe>(library.get(), IID_IValueParser, 2);
    }
}

TEST(TesterDispatch, LoadsTheRegisteredLibraryOnFirstUseAndRetriesUntilItIsThere) {
    UnRegisterTypeLib(LIBID_QuillonLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
    UnRegisterTypeLib(LIBID_QuillonLib, 2, 0, LOCALE_NEUTRAL, SYS_WIN64);
    const auto tester = makeTester<ProbeTester>();
    ASSERT_TRUE(tester);
    TypeInfo info;
    EXPECT_TRUE(FAILED(tester->GetTypeInfo(0, 0, info.put()))) << "not registered yet";
    for (const char* path : {QUILLON_TLB_V1, QUILLON_TLB_V2}) ASSERT_TRUE(loadLibraryFile(path, REGKIND_REGISTER)) << path;
    ASSERT_EQ(tester->GetTypeInfo(0, 0, info.put()), S_OK) << "a later call tries again";
    EXPECT_TRUE(info);
}

} // namespace
