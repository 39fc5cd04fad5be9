// The plug-in as any outside client may use it: odd interface identifiers,
// null out-pointers, extreme indexes, aggregation, objects released in every
// order, and DllCanUnloadNow asked at every stage. Out-parameters start as a
// sentinel, so each case shows what the call left behind.
#include "tests/plugin/PluginModule.h"

#include "platform/text.h"

#include <atomic>
#include <climits>
#include <thread>
#include <vector>

namespace {

void* const sentinel = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0xDEADBEEF));
const IID nullIid{};              // IID_NULL, which every build's headers do not declare
constexpr WORD dispatchMethod = 1; // DISPATCH_METHOD

// An outer object that owns the creator's inner part, as a client's
// aggregate would: its own IUnknown, everything else from the inner part.
class Aggregate final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (!inner) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        return inner->QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }

    ULONG references = 1;
    IUnknown* inner = nullptr;
};

void classObject(const PluginModule& plugin, ComRef<IClassFactory>& factory) {
    ASSERT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IClassFactory, factory.out()), S_OK);
}

std::string nameOf(ITester* tester) {
    BSTR text = nullptr;
    EXPECT_EQ(tester->GetName(&text), S_OK);
    std::string name = platform::narrowFromBstr(text);
    SysFreeString(text);
    return name;
}

} // namespace

TEST_F(PluginDll, ClassObjectAnswersOnlyAsAClassFactory) {
    for (const IID* iid : {&IID_IDispatch, &IID_ITesterCreator, &IID_ITesterCreator1, &IID_IVarnelCreator}) {
        void* object = sentinel;
        EXPECT_EQ(plugin.getClassObject(CLSID_VarnelCreator, *iid, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
    }
    // The library's and the interfaces' identifiers are no classes.
    for (const CLSID* clsid : {&LIBID_VarnelPluginLib, &IID_IVarnelCreator, &CLSID_ValueParser, &IID_IUnknown}) {
        void* object = sentinel;
        EXPECT_EQ(plugin.getClassObject(*clsid, IID_IUnknown, &object), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(object, nullptr);
    }
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
    ComRef<IClassFactory> factory;
    classObject(plugin, factory);
    EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(PluginDll, MakesNoCreatorForInterfacesItLacks) {
    ComRef<IClassFactory> factory;
    classObject(plugin, factory);
    for (const IID* iid : {&IID_ITester, &IID_ITester3, &IID_IClassFactory, &IID_ISupportErrorInfo, &IID_ITesterHost}) {
        void* object = sentinel;
        EXPECT_EQ(factory->CreateInstance(nullptr, *iid, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
    }
    factory.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_OK); // the refused creators are gone
}

TEST_F(PluginDll, RefusesNullPointers) {
    ComRef<IUnknown> creator = plugin.createCreator();
    ASSERT_TRUE(creator);
    for (const IID* iid : {&IID_IUnknown, &IID_IVarnelCreator, &IID_ITesterCreator1, &IID_ITester})
        EXPECT_EQ(creator->QueryInterface(*iid, nullptr), E_POINTER);
    ComRef<ITesterCreator1> latest = plugin.createCreator();
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
    void* other = sentinel;
    EXPECT_EQ(tester->QueryInterface(IID_ITesterCreator, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
}

TEST_F(PluginDll, RefusesEveryIndexOutsideTheTable) {
    ComRef<ITesterCreator1> creator = plugin.createCreator();
    for (const LONG index : {LONG{INT_MIN}, LONG{-2}, LONG{2}, LONG{3}, LONG{INT_MAX}}) {
        ITester* tester = static_cast<ITester*>(sentinel);
        EXPECT_EQ(creator->CreateTester(index, &tester), E_INVALIDARG) << index;
        EXPECT_EQ(tester, nullptr) << index;
    }
    creator.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
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
}

TEST_F(PluginDll, StaysLoadedUntilTheLastObjectGoesInAnyOrder) {
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
    ComRef<IClassFactory> factory;
    classObject(plugin, factory);
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE); // the client's class object
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
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE); // two testers, no creator
    a.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE);
    EXPECT_EQ(nameOf(b.get()), "serial");
    b.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
}

TEST_F(PluginDll, RefusesAServerUnlockWithoutALock) {
    ComRef<IClassFactory> factory;
    classObject(plugin, factory);
    ComRef<ITesterCreator1> creator;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITesterCreator1, creator.out()), S_OK);
    factory.reset();
    ASSERT_EQ(plugin.canUnloadNow(), S_FALSE);
    classObject(plugin, factory);
    EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED);
    factory.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE); // the creator still holds its lock
    creator.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
}

TEST_F(PluginDll, AggregatedCreatorKeepsItsInnerIdentity) {
    ComRef<IClassFactory> factory;
    classObject(plugin, factory);
    Aggregate outer;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    factory.reset();
    IUnknown* inner = outer.inner;
    EXPECT_EQ(inner->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    IUnknown* self = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&self)), S_OK);
    EXPECT_EQ(self, inner); // the inner part answers with itself, not the outer object
    EXPECT_EQ(outer.references, 1u);
    self->Release();
    void* other = sentinel;
    EXPECT_EQ(inner->QueryInterface(IID_ITester, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(outer.QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);

    // Each interface of the creator is counted on the outer object.
    ComRef<ITester> tester;
    for (const IID* iid : {&IID_IVarnelCreator, &IID_IDispatch, &IID_ITesterCreator, &IID_ITesterCreator1}) {
        void* table = sentinel;
        ASSERT_EQ(outer.QueryInterface(*iid, &table), S_OK);
        EXPECT_EQ(outer.references, 2u);
        if (iid == &IID_ITesterCreator) {
            ASSERT_EQ(static_cast<ITesterCreator*>(table)->CreateTester(0, tester.put()), S_OK);
        }
        static_cast<IUnknown*>(table)->Release();
        EXPECT_EQ(outer.references, 1u);
    }
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
