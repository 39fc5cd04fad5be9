// The real plug-in module called as any outside client may. Out-parameters
// hold a sentinel first, so each test shows what a call leaves behind. What
// the creator offers is pinned by tests/varnel/baselines/list.txt.
#include "tests/plugin/PluginModule.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

void* const sentinel = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0xDEADBEEF));

void classObject(const PluginModule& plugin, ComPtr<IClassFactory>& factory) {
    ASSERT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IClassFactory, factory.putVoid()), S_OK);
}

// `call` (given where to put the object) answers `expected` and leaves a null there.
template <class Call>
void expectRefused(HRESULT expected, Call call) {
    void* object = sentinel;
    EXPECT_EQ(call(&object), expected);
    EXPECT_EQ(object, nullptr);
}

} // namespace

TEST_F(PluginDll, ExportsOneClassObjectForItsClassAndInterfacesOnly) {
    // The library's and the interfaces' identifiers are no classes.
    for (const CLSID* clsid : {&IID_ITester, &LIBID_VarnelPluginLib, &IID_IVarnelCreator, &CLSID_ValueParser})
        expectRefused(CLASS_E_CLASSNOTAVAILABLE, [&](void** out) { return plugin.getClassObject(*clsid, IID_IClassFactory, out); });
    for (const IID* iid : {&IID_IDispatch, &IID_ITesterCreator, &IID_ITesterCreator1, &IID_IVarnelCreator})
        expectRefused(E_NOINTERFACE, [&](void** out) { return plugin.getClassObject(CLSID_VarnelCreator, *iid, out); });
    EXPECT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IClassFactory, nullptr), E_POINTER);
    ComPtr<IClassFactory> first, second;
    classObject(plugin, first);
    ASSERT_EQ(plugin.getClassObject(CLSID_VarnelCreator, IID_IUnknown, second.putVoid()), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(first.get()), static_cast<IUnknown*>(second.get()));
    expectRefused(E_NOINTERFACE, [&](void** out) { return first->QueryInterface(IID_ITester, out); });
    // No creator for interfaces it lacks; an aggregate may ask for the inner IUnknown only.
    for (const IID* iid : {&IID_ITester, &IID_ITester3, &IID_IClassFactory, &IID_ISupportErrorInfo, &IID_ITesterHost})
        expectRefused(E_NOINTERFACE, [&](void** out) { return first->CreateInstance(nullptr, *iid, out); });
    AggregateOuter outer;
    expectRefused(CLASS_E_NOAGGREGATION, [&](void** out) { return first->CreateInstance(&outer, IID_ITesterCreator, out); });
    EXPECT_EQ(first->CreateInstance(nullptr, IID_ITesterCreator, nullptr), E_POINTER);
}

TEST_F(PluginDll, RefusesNullPointersAndEveryOtherIndex) {
    const auto latest = plugin.createCreator<ITesterCreator1>(IID_ITesterCreator1);
    ASSERT_TRUE(latest);
    for (const IID* iid : {&IID_IUnknown, &IID_IVarnelCreator, &IID_ITesterCreator1, &IID_ITester})
        EXPECT_EQ(latest->QueryInterface(*iid, nullptr), E_POINTER);
    EXPECT_EQ(latest->GetTesterCount(nullptr), E_POINTER);
    EXPECT_EQ(latest->CreateTester(0, nullptr), E_POINTER);
    EXPECT_EQ(latest->GetCreatorVersion(nullptr), E_POINTER);
    for (const LONG index : {LONG{INT_MIN}, LONG{-1}, LONG{2}, LONG{INT_MAX}})
        expectRefused(E_INVALIDARG, [&](void** out) { return latest->CreateTester(index, reinterpret_cast<ITester**>(out)); });
}

TEST_F(PluginDll, StaysLoadedUntilTheLastObjectGoesAndCountsServerLocks) {
    ComPtr<IClassFactory> factory;
    classObject(plugin, factory);
    IClassFactory* const classObjectSeen = factory.get();
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE); // a class object held by a client
    ComPtr<ITesterCreator1> creator;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITesterCreator1, creator.putVoid()), S_OK);
    factory.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE); // a creator
    ComPtr<ITester> tester;
    ASSERT_EQ(creator->CreateTester(0, tester.put()), S_OK);
    creator.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE); // a tester, its creator gone
    tester.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);

    // The module's own reference keeps the class object; LockServer counts.
    classObject(plugin, factory);
    EXPECT_EQ(factory.get(), classObjectSeen);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE);
    classObject(plugin, factory);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    // An unlock without a lock must not give away a live creator's lock.
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITesterCreator1, creator.putVoid()), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED);
    factory.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE);
}

TEST_F(PluginDll, CanBeAggregated) {
    ComPtr<IClassFactory> factory;
    classObject(plugin, factory);
    AggregateOuter outer;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    factory.reset();
    IUnknown* inner = outer.inner;
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    IUnknown* self = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&self)), S_OK);
    EXPECT_EQ(self, inner); // the inner part answers with itself, not the outer object
    self->Release();

    // Each interface of the creator is counted on, and delegates to, the outer object.
    ComPtr<ITester> tester;
    for (const IID* iid : {&IID_IVarnelCreator, &IID_IDispatch, &IID_ITesterCreator, &IID_ITesterCreator1}) {
        ComPtr<IUnknown> table, identity;
        ASSERT_EQ(outer.QueryInterface(*iid, table.putVoid()), S_OK);
        EXPECT_EQ(outer.referenceCount(), 2u);
        ASSERT_EQ(table->QueryInterface(IID_IUnknown, identity.putVoid()), S_OK);
        EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
        if (iid == &IID_ITesterCreator) {
            ASSERT_EQ(static_cast<ITesterCreator*>(table.get())->CreateTester(0, tester.put()), S_OK);
        }
    }
    EXPECT_EQ(outer.referenceCount(), 1u);
    inner->Release(); // the outer object goes, and its inner part with it
    outer.inner = nullptr;
    EXPECT_EQ(plugin.canUnloadNow(), S_FALSE); // the tester outlives the aggregate
    tester.reset();
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
}
