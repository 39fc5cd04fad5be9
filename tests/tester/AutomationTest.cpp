// The automation calls the framework relies on. The same cases run against
// the system's oleaut32 under Wine and against our own stand-in on Linux,
// so the stand-in is held to the system's behaviour.
#include "../support/Variants.h"

#include <gtest/gtest.h>

namespace {

// A value with this tag and a zero payload.
VARIANT tagged(VARTYPE tag) {
    VARIANT value;
    VariantInit(&value);
    value.llVal = 0;
    value.vt = tag;
    return value;
}

TEST(Bstr, KeepsItsLengthPrefixAndTerminator) {
    const OLECHAR chars[] = {'a', 0, 'b'};
    BSTR text = SysAllocStringLen(chars, 3);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 3u);
    EXPECT_EQ(text[3], 0) << "terminated after its length";
    EXPECT_EQ(reinterpret_cast<const std::uint32_t*>(text)[-1], 6u) << "prefixed with its byte count";
    SysFreeString(text);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x7FFFFFFF), nullptr) << "beyond the 32-bit prefix";
    EXPECT_EQ(platform::narrowFromBstr(nullptr), "") << "a null text is an empty one";
}

TEST(Variant, CopyAndClearEmptyOrRefuse) {
    VARIANT copy;
    VariantInit(&copy);
    VARIANT nullText = tagged(VT_BSTR);
    ASSERT_EQ(VariantCopy(&copy, &nullText), S_OK);
    EXPECT_NE(copy.bstrVal, nullptr) << "a new, empty text even of a null one";
    EXPECT_EQ(SysStringLen(copy.bstrVal), 0u);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(copy.vt, VT_EMPTY);
    nullText.vt = 15;
    EXPECT_EQ(VariantCopy(&copy, &nullText), DISP_E_BADVARTYPE);
    EXPECT_EQ(copy.vt, VT_EMPTY);

    // A locked array fails to clear, yet the value is emptied.
    VARIANT holder = tagged(VT_ARRAY | VT_VARIANT);
    SAFEARRAY* array = holder.parray = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    ASSERT_EQ(SafeArrayLock(array), S_OK);
    EXPECT_EQ(VariantClear(&holder), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(holder.vt, VT_EMPTY);
    SafeArrayUnlock(array);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);

    const VARTYPE unknown[] = {15, 24, 0x7FFF, VT_I4 | 0x1000, VT_I4 | 0x8000, VT_ARRAY | VT_EMPTY, VT_BYREF | VT_NULL};
    for (const VARTYPE tag : unknown) {
        VARIANT value = tagged(tag);
        EXPECT_EQ(VariantClear(&value), DISP_E_BADVARTYPE) << tag;
        EXPECT_EQ(value.vt, tag) << "left as it was";
    }
    // Tags the framework reports as not known are still valid values.
    for (const VARTYPE tag : {VT_NULL, VT_I2, VT_DATE, VT_ERROR, VT_I8, VT_UINT}) {
        VARIANT value = tagged(tag);
        EXPECT_EQ(VariantClear(&value), S_OK) << tag;
        EXPECT_EQ(value.vt, VT_EMPTY);
    }
}

TEST(SafeArray, VectorsHaveBoundsLocksAndEmptyElements) {
    for (const VARTYPE type : {VT_BSTR, VT_VARIANT}) {
        SAFEARRAY* array = SafeArrayCreateVector(type, 0, 3);
        ASSERT_NE(array, nullptr);
        LONG lower = -1, upper = -1;
        EXPECT_EQ(SafeArrayGetLBound(array, 1, &lower), S_OK);
        EXPECT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
        EXPECT_EQ(lower, 0);
        EXPECT_EQ(upper, 2);
        void* data = nullptr;
        EXPECT_EQ(SafeArrayAccessData(array, &data), S_OK);
        for (std::size_t i = 0; i < 3 * array->cbElements; ++i) EXPECT_EQ(static_cast<char*>(data)[i], 0);
        EXPECT_EQ(array->cLocks, 1u);
        EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
        EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
        EXPECT_EQ(SafeArrayUnaccessData(array), E_UNEXPECTED);
        EXPECT_EQ(SafeArrayDestroy(array), S_OK);
    }
    void* data = nullptr;
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
    EXPECT_EQ(SafeArrayAccessData(nullptr, &data), E_INVALIDARG);

    // A host may count from 1: the element count is still upper - lower + 1.
    SAFEARRAY* fromOne = SafeArrayCreateVector(VT_VARIANT, 1, 3);
    LONG lower = 0;
    EXPECT_EQ(SafeArrayGetLBound(fromOne, 1, &lower), S_OK);
    EXPECT_EQ(lower, 1);
    EXPECT_EQ(elementCount(fromOne), 3u);
    ULONG locks = 0;
    while (SUCCEEDED(SafeArrayLock(fromOne)) && locks < 70000) ++locks;
    EXPECT_EQ(locks, 65535u) << "the lock count stops at 65535";
    while (locks-- > 0) SafeArrayUnlock(fromOne);
    EXPECT_EQ(SafeArrayDestroy(fromOne), S_OK);
}

} // namespace
