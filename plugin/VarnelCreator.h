// The plug-in's one COM class: the host asks it how many testers there are,
// makes them by index, and reads its version. It keeps no state; every
// tester it makes is independent of it and may outlive it.
#pragma once

#include "com/DispatchOf.h"
#include "plugin/Testers.h"
#include "plugin/VarnelPlugin.h"

#include <span>

TypeInfoHolder& varnelCreatorTypeInfo();
TypeInfoHolder& testerCreatorTypeInfo();

class CVarnelCreator : public DispatchOf<IVarnelCreator, varnelCreatorTypeInfo>,
                       public DispatchOf<ITesterCreator1, testerCreatorTypeInfo> {
public:
    explicit CVarnelCreator(std::span<const TesterMaker> makers) : makers_(makers) {}
    virtual ~CVarnelCreator() = default;
    CVarnelCreator(const CVarnelCreator&) = delete;
    CVarnelCreator& operator=(const CVarnelCreator&) = delete;

    // Identity table for the reference-counting wrapper, in answer order.
    void* findInterface(REFIID iid) noexcept;

    // ITesterCreator1
    HRESULT STDMETHODCALLTYPE GetTesterCount(ULONG* count) override;
    HRESULT STDMETHODCALLTYPE CreateTester(LONG index, ITester** tester) override;
    HRESULT STDMETHODCALLTYPE GetCreatorVersion(BSTR* version) override;

    // Makes a creator, alone (outer null) or as part of an aggregate, and
    // asks it for `iid`. The standard class-object rules apply.
    static HRESULT create(IUnknown* outer, REFIID iid, void** object);

private:
    std::span<const TesterMaker> makers_;
};
