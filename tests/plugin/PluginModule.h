// Loading a plug-in module in a test and calling its entry points.
#pragma once

#include "com/ComPtr.h"
#include "com/UntypedDispatch.h"
#include "platform/library.h"
#include "plugin/VarnelPlugin.h"

#include <gtest/gtest.h>

#include <string>

// An outer object for aggregation tests: it answers IUnknown itself and
// passes every other request to the inner part it owns, once it has one.
class AggregateOuter final : public UntypedDispatch<IDispatch, IID_IDispatch> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || !inner) return UntypedDispatch::QueryInterface(iid, out);
        return inner->QueryInterface(iid, out);
    }

    IUnknown* inner = nullptr;
};

struct PluginModule {
    bool load(const char* file) { return library.open(file, error); }

    HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** object) const {
        return reinterpret_cast<DllGetClassObjectFunction>(library.symbol("DllGetClassObject"))(clsid, iid, object);
    }
    DllEntryFunction entry(const char* name) const {
        return reinterpret_cast<DllEntryFunction>(library.symbol(name));
    }
    HRESULT canUnloadNow() const { return entry("DllCanUnloadNow")(); }

    // A creator made through the class object.
    template <class T>
    ComPtr<T> createCreator(REFIID iid) const {
        ComPtr<IClassFactory> factory;
        ComPtr<T> creator;
        if (SUCCEEDED(getClassObject(CLSID_VarnelCreator, IID_IClassFactory, factory.putVoid())))
            factory->CreateInstance(nullptr, iid, creator.putVoid());
        return creator;
    }

    platform::SharedLibrary library;
    std::string error;
};

// Each test loads the real plug-in and leaves nothing of it alive.
class PluginDll : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(plugin.load(VARNEL_PLUGIN_FILE)) << plugin.error; }
    void TearDown() override { EXPECT_EQ(plugin.canUnloadNow(), S_OK) << "something made by the plug-in is left"; }

    PluginModule plugin;
};
