// The module lock is held for an object's whole life, its own destructor
// included: a tester's destructor stops threads that run the module's code,
// so DllCanUnloadNow must not answer S_OK before that destructor is over.
#include "tests/plugin/PluginModule.h"
#include "tests/support/Variants.h"

#include "com/ComAggregate.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

// Records the module's lock count as its own destructor sees it.
class LockWatcher : public IUnknown {
public:
    explicit LockWatcher(long& seen) : seen_(seen) {}
    virtual ~LockWatcher() { seen_ = ModuleLock::count(); }
    void* findInterface(REFIID iid) noexcept {
        return IsEqualIID(iid, IID_IUnknown) ? static_cast<IUnknown*>(this) : nullptr;
    }

private:
    long& seen_;
};

// The host's log sink. On "farewell", which the echo tester's destructor logs,
// it asks whether the plug-in could be unloaded, as another thread might.
class UnloadProbe final : public UntypedDispatch<ITesterHost, IID_ITesterHost> {
public:
    explicit UnloadProbe(const PluginModule& plugin) : plugin_(plugin) {}

    HRESULT STDMETHODCALLTYPE Log(ULONG, BSTR text) override {
        if (platform::narrowFromBstr(text) == "farewell") answerInDestructor = plugin_.canUnloadNow();
        return S_OK;
    }

    std::optional<HRESULT> answerInDestructor;

private:
    const PluginModule& plugin_;
};

constexpr ULONG farewellAction = 8; // its position in the echo tester's table

} // namespace

// An aggregated part here; a whole object through the test plug-in below.
TEST(ModuleLock, IsHeldUntilTheWrappedDestructorHasRun) {
    AggregateOuter outer; // the test releases the inner part itself
    const long before = ModuleLock::count();
    long seen = -1;
    void* inner = nullptr;
    ASSERT_EQ(ComAggregate<LockWatcher>::create(&outer, &inner, seen), S_OK);
    EXPECT_EQ(ModuleLock::count(), before + 1);
    static_cast<IUnknown*>(inner)->Release();
    EXPECT_EQ(seen, before + 1);
    EXPECT_EQ(ModuleLock::count(), before);
}

TEST(TestPlugin, CannotUnloadWhileATesterIsBeingDestroyed) {
    PluginModule plugin;
    ASSERT_TRUE(plugin.load(VARNEL_TEST_PLUGIN_FILE)) << plugin.error;
    UnloadProbe host(plugin);
    {
        ComPtr<ITester> tester;
        ASSERT_EQ(plugin.createCreator<ITesterCreator1>(IID_ITesterCreator1)->CreateTester(0, tester.put()), S_OK);
        ASSERT_EQ(tester->SetHost(&host), S_OK);
        SAFEARRAY* results = nullptr;
        ULONG state = 0xDEADBEEF;
        ASSERT_EQ(tester->ExecuteAction(farewellAction, ParameterArray({}).get(), &results, &state), S_OK);
        EXPECT_FALSE(host.answerInDestructor);
    }
    ASSERT_TRUE(host.answerInDestructor) << "no farewell from the destructor";
    EXPECT_EQ(*host.answerInDestructor, S_FALSE);
    EXPECT_EQ(plugin.canUnloadNow(), S_OK);
}
