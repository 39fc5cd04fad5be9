// Without a type-library registry the dispatch slots report the host's
// library as not registered, every time, while the direct slots work.
#include "ProbeTester.h"

#include <gtest/gtest.h>

namespace {

TEST(DispatchWithoutRegistry, ReportsTheLibraryNotRegisteredAndDirectSlotsStillWork) {
    ITester3* tester = makeTester<ProbeTester>();
    ASSERT_NE(tester, nullptr);
    for (int attempt = 0; attempt < 2; ++attempt) {
        ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
        EXPECT_EQ(tester->GetTypeInfo(0, 0, &info), TYPE_E_LIBNOTREGISTERED);
        EXPECT_EQ(info, nullptr);
        OLECHAR name[] = u"GetActionCount";
        LPOLESTR names[] = {name};
        DISPID id = 0;
        EXPECT_EQ(tester->GetIDsOfNames(IID_IUnknown, names, 1, 0, &id), TYPE_E_LIBNOTREGISTERED);
        alignas(8) unsigned char parameters[64] = {}; // never read: the library is missing first
        EXPECT_EQ(tester->Invoke(1, IID_IUnknown, 0, 1, reinterpret_cast<DISPPARAMS*>(parameters), nullptr, nullptr,
                                 nullptr),
                  TYPE_E_LIBNOTREGISTERED);
    }
    ULONG count = 0;
    EXPECT_EQ(tester->GetActionCount(&count), S_OK);
    EXPECT_EQ(count, 3u);
    tester->Release();
}

} // namespace
