// The real plug-in module, loaded and called as any outside client may:
// through its entry points, with odd interface identifiers, null pointers,
// extreme indexes, aggregation, objects released in every order and
// DllCanUnloadNow asked at every stage. Out-parameters are filled with a
// sentinel first, so each test shows what a call leaves behind.
#include "tests/plugin/PluginModule.h"

#include "platform/text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <thread>
#include <vector>

namespace {

void* const sentinel = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0xDEADBEEF));
const IID nullIid{};               // IID_NULL, which every build's headers do not declare
constexpr WORD dispatchMethod = 1; // DISPATCH_METHOD

std::string textOf(HRESULT (STDMETHODCALLTYPE ITester::*get)(BSTR*), ITester* tester) {
    BSTR text = nullptr;
    EXPECT_EQ((tester->*get)(&text), S_OK);
    std::string result = platform::narrowFromBstr(text);
    SysFreeString(text);
    return result;
}

std::string nameOf(ITester* tester) { return textOf(&ITester::GetName, tester); }

// An outer object that owns the creator's inner part, as a client's
// aggregate would: its own IUnknown, everything else from the inner part.
class Outer final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        if (inner) return inner->QueryInterface(iid, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }

    ULONG references = 1;
    IUnknown* inner = nullptr;
};

void classObject(const PluginModule& plugin, ComRef<IClassFactory>& factory) {
    ASSERT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IClassFactory, factory.out()), S_OK);
}

} // namespace

TEST_F(PluginDll, ExportsTheFourEntryPoints) {
    for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"})
        EXPECT_NE(plugin.library.symbol(name), nullptr) << name;
}

TEST_F(PluginDll, GivesAClassFactoryForItsClassOnly) {
    // The library's and the interfaces' identifiers are no classes.
    for (const CLSID* clsid : {&IID_ITester, &LIBID_VarnelPluginLib, &IID_IVarnelCreator, &CLSID_ValueParser}) {
        void* object = sentinel;
        EXPECT_EQ(plugin.getClassObject(*clsid, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(object, nullptr);
    }
    for (const IID* iid : {&IID_IDispatch, &IID_ITesterCreator, &IID_ITesterCreator1, &IID_IVarnelCreator}) {
        void* object = sentinel;
        EXPECT_EQ(plugin.getClassObject(CLSID_VarnelCreator, *iid, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
    }
    EXPECT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
}

TEST_F(PluginDll, KeepsOneClassObject) {
    ComRef<IClassFactory> first, second;
    ASSERT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IClassFactory, first.out()), S_OK);
    ASSERT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IUnknown, second.out()), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(first.get()), static_cast<IUnknown*>(second.get()));
    void* other = sentinel;
    EXPECT_EQ(first->QueryInterface(IID_ITester, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(first->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(PluginDll, MakesNoCreatorForInterfacesItLacks) {
    ComRef<IClassFactory> factory;
    classObject(plugin, factory);
    for (const IID* iid : {&IID_ITester, &IID_ITester3, &IID_IClassFactory, &IID_ISupportErrorInfo, &IID_ITesterHost}) {
        void* object = sentinel;
        EXPECT_EQ(factory->CreateInstance(nullptr, *iid, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
    }
    // An aggregate may ask for the inner IUnknown only.
    Outer outer;
    void* object = sentinel;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_ITesterCreator, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_ITesterCreator, nullptr), E_POINTER);
    factory.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_OK); // the refused creators are gone
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

TEST_F(PluginDll, RefusesNullPointers) {
    ComRef<IUnknown> creator = plugin.createCreator();
    ASSERT_TRUE(creator);
    for (const IID* iid : {&IID_IUnknown, &IID_IVarnelCreator, &IID_ITesterCreator1, &IID_ITester})
        EXPECT_EQ(creator->QueryInterface(*iid, nullptr), E_POINTER);
    ComRef<ITesterCreator1> latest = plugin.createCreator();
    EXPECT_EQ(latest->GetTesterCount(nullptr), E_POINTER);
    EXPECT_EQ(latest->CreateTester(0, nullptr), E_POINTER);
    EXPECT_EQ(latest->GetCreatorVersion(nullptr), E_POINTER);
    EXPECT_EQ(latest->GetTypeInfoCount(nullptr), E_POINTER);
    EXPECT_EQ(latest->GetTypeInfo(0, 0, nullptr), E_POINTER);
    DISPID id = 0;
    EXPECT_EQ(latest->GetIDsOfNames(nullIid, nullptr, 1, 0, &id), E_POINTER);
    OLECHAR name[] = {'G', 'e', 't', 'T', 'e', 's', 't', 'e', 'r', 'C', 'o', 'u', 'n', 't', 0};
    LPOLESTR names[] = {name};
    EXPECT_EQ(latest->GetIDsOfNames(nullIid, names, 1, 0, nullptr), E_POINTER);
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(latest->Invoke(1, nullIid, 0, dispatchMethod, nullptr, &result, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(result.vt, VT_EMPTY);
    ComRef<ITester> tester;
    ASSERT_EQ(latest->CreateTester(0, tester.put()), S_OK);
    EXPECT_EQ(tester->QueryInterface(IID_ITester3, nullptr), E_POINTER);
}

TEST_F(PluginDll, CountsTwoTestersAndOneTypeInfo) {
    ComRef<ITesterCreator1> creator = plugin.createCreator();
    ULONG count = 0xDEADBEEF;
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
    EXPECT_EQ(textOf(&ITester::GetVersion, first.get()), "5.0");
    EXPECT_NE(first.get(), second.get()); // independent testers
}

TEST_F(PluginDll, RefusesEveryOtherIndexWithANullTester) {
    ComRef<ITesterCreator1> creator = plugin.createCreator();
    // Index 1 is the script proxy tester's place; it is not built yet.
    for (const LONG index : {LONG{INT_MIN}, LONG{-1}, LONG{1}, LONG{2}, LONG{1000}, LONG{INT_MAX}}) {
        ITester* tester = static_cast<ITester*>(sentinel);
        EXPECT_EQ(creator->CreateTester(index, &tester), E_INVALIDARG) << index;
        EXPECT_EQ(tester, nullptr) << index;
    }
    creator.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
}

TEST_F(PluginDll, ReportsCreatorVersionThree) {
    ComRef<ITesterCreator1> creator = plugin.createCreator();
    BSTR version = static_cast<BSTR>(sentinel);
    ASSERT_EQ(creator->GetCreatorVersion(&version), S_OK);
    EXPECT_EQ(platform::narrowFromBstr(version), "3.0");
    SysFreeString(version);
}

TEST_F(PluginDll, TestersAnswerForEveryHostInterface) {
    ComRef<ITesterCreator1> creator = plugin.createCreator();
    ComRef<ITester> tester;
    ASSERT_EQ(creator->CreateTester(0, tester.put()), S_OK);
    creator.reset();
    void* identity = sentinel;
    ASSERT_EQ(tester->QueryInterface(IID_IUnknown, &identity), S_OK);
    void* errorInfo = sentinel;
    ASSERT_EQ(tester->QueryInterface(IID_ISupportErrorInfo, &errorInfo), S_OK);
    EXPECT_EQ(identity, errorInfo); // the first interface is the identity
    static_cast<IUnknown*>(errorInfo)->Release();
    for (const IID* iid : {&IID_IDispatch, &IID_ITester, &IID_ITester1, &IID_ITester2, &IID_ITester3}) {
        void* table = sentinel;
        ASSERT_EQ(tester->QueryInterface(*iid, &table), S_OK);
        EXPECT_EQ(table, static_cast<void*>(tester.get())); // one ITester3 table for all
        IUnknown* again = nullptr;
        ASSERT_EQ(static_cast<IUnknown*>(table)->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
        EXPECT_EQ(static_cast<void*>(again), identity);
        again->Release();
        EXPECT_EQ(nameOf(static_cast<ITester*>(table)), "serial");
        static_cast<IUnknown*>(table)->Release();
    }
    static_cast<IUnknown*>(identity)->Release();
    void* other = sentinel;
    EXPECT_EQ(tester->QueryInterface(IID_ITesterCreator, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
}

TEST_F(PluginDll, StaysLoadedUntilTheLastObjectGoesInAnyOrder) {
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
    ComRef<IClassFactory> factory;
    classObject(plugin, factory);
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE); // a class object held by a client
    ComRef<ITesterCreator1> first, second;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITesterCreator1, first.out()), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITesterCreator1, second.out()), S_OK);
    EXPECT_NE(first.get(), second.get());
    factory.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE); // two creators
    ComRef<ITester> a, b;
    ASSERT_EQ(first->CreateTester(0, a.put()), S_OK);
    ASSERT_EQ(second->CreateTester(0, b.put()), S_OK);
    first.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE);
    second.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE); // two testers, their creators gone
    a.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE);
    EXPECT_EQ(nameOf(b.get()), "serial");
    b.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
}

TEST_F(PluginDll, CountsServerLocks) {
    ComRef<IClassFactory> factory;
    classObject(plugin, factory);
    IClassFactory* raw = factory.get();
    factory.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
    // The module's own reference keeps the class object; LockServer counts.
    classObject(plugin, factory);
    EXPECT_EQ(factory.get(), raw);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE);
    classObject(plugin, factory);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    // An unlock without a lock must not give away a live creator's lock.
    ComRef<ITesterCreator1> creator;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITesterCreator1, creator.out()), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED);
    factory.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE);
}

TEST_F(PluginDll, CanBeAggregated) {
    ComRef<IClassFactory> factory;
    classObject(plugin, factory);
    Outer outer;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    factory.reset();
    IUnknown* inner = outer.inner;
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    IUnknown* self = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&self)), S_OK);
    EXPECT_EQ(self, inner); // the inner part answers with itself, not the outer object
    EXPECT_EQ(outer.references, 1u);
    self->Release();
    void* other = sentinel;
    EXPECT_EQ(inner->QueryInterface(IID_ITester, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);

    // Each interface of the creator is counted on, and delegates to, the outer object.
    ComRef<ITester> tester;
    for (const IID* iid : {&IID_IVarnelCreator, &IID_IDispatch, &IID_ITesterCreator, &IID_ITesterCreator1}) {
        void* table = sentinel;
        ASSERT_EQ(outer.QueryInterface(*iid, &table), S_OK);
        EXPECT_EQ(outer.references, 2u);
        IUnknown* identity = nullptr;
        ASSERT_EQ(static_cast<IUnknown*>(table)->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)),
                  S_OK);
        EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
        identity->Release();
        if (iid == &IID_ITesterCreator) {
            ASSERT_EQ(static_cast<ITesterCreator*>(table)->CreateTester(0, tester.put()), S_OK);
        }
        static_cast<IUnknown*>(table)->Release();
        EXPECT_EQ(outer.references, 1u);
    }
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE);
    inner->Release(); // the outer object goes, and its inner part with it
    outer.inner = nullptr;
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE); // the tester outlives the aggregate
    EXPECT_EQ(nameOf(tester.get()), "serial");
    tester.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
}

TEST_F(PluginDll, AnswersFromManyThreadsAtOnce) {
    // The class is free-threaded: clients call from any thread without marshalling.
    std::atomic<int> made{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 5; ++i) {
                ComRef<ITesterCreator1> creator = plugin.createCreator();
                if (!creator) continue;
                ComRef<ITester> tester;
                if (creator->CreateTester(0, tester.put()) == S_OK && nameOf(tester.get()) == "serial") ++made;
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(made.load(), 20);
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
}
