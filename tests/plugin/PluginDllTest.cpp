// The real plug-in module, loaded as the host loads it, asked through its
// entry points. Out-parameters are filled with a sentinel first, so each
// test shows what a call leaves behind.
#include "tests/plugin/PluginModule.h"

#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

void* const sentinel = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0xDEADBEEF));

template <class T>
T* sentinelOf() {
    return static_cast<T*>(sentinel);
}

std::string nameOf(ITester* tester) {
    BSTR text = nullptr;
    EXPECT_EQ(tester->GetName(&text), S_OK);
    const std::string name = platform::narrowFromBstr(text);
    SysFreeString(text);
    return name;
}

std::string versionOf(ITester* tester) {
    BSTR text = nullptr;
    EXPECT_EQ(tester->GetVersion(&text), S_OK);
    const std::string version = platform::narrowFromBstr(text);
    SysFreeString(text);
    return version;
}

// An outer object for aggregation: counts its own references only.
class Outer final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, out) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }

    ULONG references = 1;
    IUnknown* inner = nullptr;
};

} // namespace

TEST_F(PluginDll, ExportsTheFourEntryPoints) {
    for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"})
        EXPECT_NE(plugin.library.symbol(name), nullptr) << name;
}

TEST_F(PluginDll, GivesNoClassObjectForOtherClasses) {
    void* object = sentinel;
    EXPECT_EQ(plugin.getClassObject(IID_ITester, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(PluginDll, KeepsOneClassObject) {
    ComRef<IClassFactory> first, second;
    ASSERT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IClassFactory, first.out()), S_OK);
    ASSERT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IUnknown, second.out()), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(first.get()), static_cast<IUnknown*>(second.get()));
    void* other = sentinel;
    EXPECT_EQ(first->QueryInterface(IID_ITester, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
}

TEST_F(PluginDll, AnswersForItsInterfacesInOrder) {
    ComRef<IUnknown> creator = plugin.createCreator();
    ASSERT_TRUE(creator);
    void* identity = sentinel;
    void* own = sentinel;
    void* dispatch = sentinel;
    void* base = sentinel;
    void* latest = sentinel;
    void* other = sentinel;
    ASSERT_EQ(creator->QueryInterface(IID_IUnknown, &identity), S_OK);
    ASSERT_EQ(creator->QueryInterface(IID_IVarnelCreator, &own), S_OK);
    ASSERT_EQ(creator->QueryInterface(IID_IDispatch, &dispatch), S_OK);
    ASSERT_EQ(creator->QueryInterface(IID_ITesterCreator, &base), S_OK);
    ASSERT_EQ(creator->QueryInterface(IID_ITesterCreator1, &latest), S_OK);
    EXPECT_EQ(creator->QueryInterface(IID_ITester, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(identity, own);         // IVarnelCreator comes first and is the identity
    EXPECT_NE(own, dispatch);         // IDispatch is the ITesterCreator1 table
    EXPECT_EQ(dispatch, base);
    EXPECT_EQ(dispatch, latest);
    for (void* pointer : {identity, own, dispatch, base, latest}) static_cast<IUnknown*>(pointer)->Release();
}

TEST_F(PluginDll, CountsTwoTesters) {
    ComRef<ITesterCreator1> creator = plugin.createCreator();
    ULONG count = 0xDEADBEEF;
    EXPECT_EQ(creator->GetTesterCount(nullptr), E_POINTER);
    EXPECT_EQ(creator->GetTesterCount(&count), S_OK);
    EXPECT_EQ(count, 2u);
    UINT typeInfoCount = 0xDEADBEEF;
    EXPECT_EQ(creator->GetTypeInfoCount(&typeInfoCount), S_OK);
    EXPECT_EQ(typeInfoCount, 1u);
}

TEST_F(PluginDll, MakesTheSerialTesterAtIndexZero) {
    ComRef<ITesterCreator1> creator = plugin.createCreator();
    ComRef<ITester> first, second;
    ASSERT_EQ(creator->CreateTester(0, first.put()), S_OK);
    ASSERT_EQ(creator->CreateTester(0, second.put()), S_OK);
    EXPECT_EQ(nameOf(first.get()), "serial");
    EXPECT_EQ(versionOf(first.get()), "5.0");
    EXPECT_NE(first.get(), second.get()); // independent testers
}

TEST_F(PluginDll, RefusesOtherIndicesWithANullTester) {
    ComRef<ITesterCreator1> creator = plugin.createCreator();
    // Index 1 is the script proxy tester's place; it is not built yet.
    for (const LONG index : {1, 2, -1, 1000}) {
        ITester* tester = sentinelOf<ITester>();
        EXPECT_EQ(creator->CreateTester(index, &tester), E_INVALIDARG) << index;
        EXPECT_EQ(tester, nullptr) << index;
    }
    EXPECT_EQ(creator->CreateTester(0, nullptr), E_POINTER);
}

TEST_F(PluginDll, ReportsCreatorVersionThree) {
    ComRef<ITesterCreator1> creator = plugin.createCreator();
    BSTR version = sentinelOf<OLECHAR>();
    EXPECT_EQ(creator->GetCreatorVersion(nullptr), E_POINTER);
    ASSERT_EQ(creator->GetCreatorVersion(&version), S_OK);
    EXPECT_EQ(platform::narrowFromBstr(version), "3.0");
    SysFreeString(version);
}

TEST_F(PluginDll, StaysLoadedWhileATesterOutlivesItsCreator) {
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
    ComRef<ITester> tester;
    {
        ComRef<IClassFactory> factory;
        ASSERT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IClassFactory, factory.out()), S_OK);
        EXPECT_EQ(plugin.canUnloadNow(), S_FALSE); // a class object held by a client
        ComRef<ITesterCreator1> creator;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITesterCreator1, creator.out()), S_OK);
        factory.reset();
        EXPECT_EQ(plugin.canUnloadNow(), S_FALSE); // the creator
        ASSERT_EQ(creator->CreateTester(0, tester.put()), S_OK);
    }
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE); // the tester, its creator gone
    EXPECT_EQ(nameOf(tester.get()), "serial");
    tester.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
}

TEST_F(PluginDll, CountsServerLocks) {
    ComRef<IClassFactory> factory;
    ASSERT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IClassFactory, factory.out()), S_OK);
    IClassFactory* raw = factory.get();
    factory.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
    // The module's own reference keeps the class object; LockServer counts.
    ComRef<IClassFactory> again;
    ASSERT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IClassFactory, again.out()), S_OK);
    EXPECT_EQ(again.get(), raw);
    EXPECT_EQ(again->LockServer(TRUE), S_OK);
    again.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE);
    ASSERT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IClassFactory, again.out()), S_OK);
    EXPECT_EQ(again->LockServer(FALSE), S_OK);
}

TEST_F(PluginDll, RefusesAggregationForOtherInterfaces) {
    ComRef<IClassFactory> factory;
    ASSERT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IClassFactory, factory.out()), S_OK);
    Outer outer;
    void* object = sentinel;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_ITesterCreator, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ITesterCreator, nullptr), E_POINTER);
}

TEST_F(PluginDll, CanBeAggregated) {
    ComRef<IClassFactory> factory;
    ASSERT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IClassFactory, factory.out()), S_OK);
    Outer outer;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    ASSERT_NE(outer.inner, nullptr);
    ITesterCreator1* creator = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_ITesterCreator1, reinterpret_cast<void**>(&creator)), S_OK);
    EXPECT_EQ(outer.references, 2u); // counted on the outer object
    IUnknown* identity = nullptr;
    ASSERT_EQ(creator->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer)); // delegates to the outer object
    identity->Release();
    ULONG count = 0;
    EXPECT_EQ(creator->GetTesterCount(&count), S_OK);
    EXPECT_EQ(count, 2u);
    creator->Release();
    EXPECT_EQ(outer.references, 1u);
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE);
    outer.inner->Release(); // the outer object lets its inner part go
    outer.inner = nullptr;
}
