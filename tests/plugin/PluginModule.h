// Loading a plug-in module in a test and calling its entry points.
#pragma once

#include "platform/library.h"
#include "plugin/VarnelPlugin.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

// An owned interface reference for tests.
template <class T>
class ComRef {
public:
    ComRef() = default;
    ComRef(IUnknown* object) { // takes the reference over, asking for T
        if (object) {
            object->QueryInterface(interfaceOf(), reinterpret_cast<void**>(&object_));
            object->Release();
        }
    }
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    void** out() {
        reset();
        return reinterpret_cast<void**>(&object_);
    }
    T** put() {
        reset();
        return &object_;
    }
    void reset() {
        if (object_) std::exchange(object_, nullptr)->Release();
    }

private:
    static const IID& interfaceOf();
    T* object_ = nullptr;
};

template <> inline const IID& ComRef<IUnknown>::interfaceOf() { return IID_IUnknown; }
template <> inline const IID& ComRef<ITesterCreator1>::interfaceOf() { return IID_ITesterCreator1; }
template <> inline const IID& ComRef<IClassFactory>::interfaceOf() { return IID_IClassFactory; }
template <> inline const IID& ComRef<ITester>::interfaceOf() { return IID_ITester; }
template <> inline const IID& ComRef<IDispatch>::interfaceOf() { return IID_IDispatch; }

struct PluginModule {
    bool load(const char* file) { return library.open(file, error); }

    HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** object) const {
        return reinterpret_cast<DllGetClassObjectFunction>(library.symbol("DllGetClassObject"))(clsid, iid, object);
    }
    DllEntryFunction entry(const char* name) const {
        return reinterpret_cast<DllEntryFunction>(library.symbol(name));
    }
    HRESULT canUnloadNow() const { return entry("DllCanUnloadNow")(); }

    // A creator made through the class object, as IUnknown.
    IUnknown* createCreator() const {
        IClassFactory* factory = nullptr;
        if (FAILED(getClassObject(CLSID_VarnelCreator, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
            return nullptr;
        IUnknown* creator = nullptr;
        factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&creator));
        factory->Release();
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
