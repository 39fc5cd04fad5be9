// The automation calls the framework relies on. The same cases run against
// the system's oleaut32 under Wine and against our own stand-in on Linux,
// so the stand-in is held to the system's behaviour.
#include "../support/Variants.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

// A value with this tag and a zero payload.
VARIANT tagged(VARTYPE tag) {
    VARIANT value;
    VariantInit(&value);
    value.llVal = 0;
    value.vt = tag;
    return value;
}

// A value holding a new vector of `elements` VARIANTs.
VARIANT arrayOfVariants(ULONG elements) {
    VARIANT holder = tagged(VT_ARRAY | VT_VARIANT);
    holder.parray = SafeArrayCreateVector(VT_VARIANT, 0, elements);
    return holder;
}

TEST(Bstr, KeepsItsLengthIncludingEmbeddedZeros) {
    const OLECHAR chars[] = {'a', 0, 'b'};
    BSTR text = SysAllocStringLen(chars, 3);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 3u);
    EXPECT_EQ(text[3], 0) << "terminated after its length";
    EXPECT_EQ(reinterpret_cast<const std::uint32_t*>(text)[-1], 6u) << "prefixed with its byte count";
    SysFreeString(text);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST(Bstr, ALengthBeyondThe32BitPrefixGivesNull) {
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x7FFFFFFF), nullptr);
}

TEST(Bstr, ConvertsPlainTextBothWays) {
    for (const std::string& sample : std::vector<std::string>{"", "hello", "a b\tc\r\n", std::string("x\0y", 3)}) {
        BSTR text = platform::bstrFromNarrow(sample);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(SysStringLen(text), sample.size());
        EXPECT_EQ(platform::narrowFromBstr(text), sample);
        SysFreeString(text);
    }
    EXPECT_EQ(platform::narrowFromBstr(nullptr), "");
}

TEST(Variant, CopyIsDeepAndClearEmpties) {
    Value source("text");
    VARIANT copy;
    VariantInit(&copy);
    EXPECT_EQ(copy.vt, VT_EMPTY);
    ASSERT_EQ(VariantCopy(&copy, &source.get()), S_OK);
    EXPECT_EQ(copy.vt, VT_BSTR);
    EXPECT_NE(copy.bstrVal, source.get().bstrVal);
    EXPECT_EQ(platform::narrowFromBstr(copy.bstrVal), "text");
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(copy.vt, VT_EMPTY);

    Value number(-7);
    ASSERT_EQ(VariantCopy(&copy, &number.get()), S_OK);
    EXPECT_EQ(copy.vt, VT_I4);
    EXPECT_EQ(copy.lVal, -7);
    VariantClear(&copy);
}

TEST(Variant, CopyMakesANewTextEvenOfANullOne) {
    VARIANT source = tagged(VT_BSTR);
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_EQ(copy.vt, VT_BSTR);
    EXPECT_NE(copy.bstrVal, nullptr);
    EXPECT_EQ(SysStringLen(copy.bstrVal), 0u);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    source.vt = 15;
    EXPECT_EQ(VariantCopy(&copy, &source), DISP_E_BADVARTYPE);
    EXPECT_EQ(copy.vt, VT_EMPTY);
}

TEST(Variant, ClearingALockedArrayFailsYetEmptiesTheValue) {
    VARIANT holder = arrayOfVariants(1);
    SAFEARRAY* array = holder.parray;
    ASSERT_EQ(SafeArrayLock(array), S_OK);
    EXPECT_EQ(VariantClear(&holder), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(holder.vt, VT_EMPTY);
    EXPECT_EQ(SafeArrayUnlock(array), S_OK);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(Variant, ClearRefusesTagsTheSystemDoesNotKnow) {
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

TEST(Variant, HoldsAnArrayAndFreesItOnClear) {
    VARIANT holder = arrayOfVariants(2);
    VARIANT* items = nullptr;
    ASSERT_EQ(SafeArrayAccessData(holder.parray, reinterpret_cast<void**>(&items)), S_OK);
    items[0].vt = VT_BSTR;
    items[0].bstrVal = platform::bstrFromNarrow("inner");
    SafeArrayUnaccessData(holder.parray);
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &holder), S_OK);
    EXPECT_NE(copy.parray, holder.parray);
    EXPECT_EQ(elementCount(copy.parray), 2u);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(VariantClear(&holder), S_OK);
}

TEST(SafeArray, VectorsHaveBoundsLocksAndTypes) {
    for (VARTYPE type : {VT_BSTR, VT_VARIANT}) {
        SAFEARRAY* array = SafeArrayCreateVector(type, 0, 3);
        ASSERT_NE(array, nullptr);
        EXPECT_EQ(SafeArrayGetDim(array), 1u);
        LONG lower = -1, upper = -1;
        EXPECT_EQ(SafeArrayGetLBound(array, 1, &lower), S_OK);
        EXPECT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
        EXPECT_EQ(lower, 0);
        EXPECT_EQ(upper, 2);
        EXPECT_EQ(elementCount(array), 3u);
        VARTYPE stored = 0;
        EXPECT_EQ(SafeArrayGetVartype(array, &stored), S_OK);
        EXPECT_EQ(stored, type);
        EXPECT_EQ(array->cbElements, type == VT_BSTR ? sizeof(BSTR) : sizeof(VARIANT));

        void* data = nullptr;
        EXPECT_EQ(SafeArrayAccessData(array, &data), S_OK);
        EXPECT_EQ(array->cLocks, 1u);
        EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
        EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
        EXPECT_EQ(SafeArrayUnaccessData(array), E_UNEXPECTED);
        EXPECT_EQ(SafeArrayDestroy(array), S_OK);
    }
    SAFEARRAY* empty = SafeArrayCreateVector(VT_VARIANT, 0, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(elementCount(empty), 0u);
    SafeArrayDestroy(empty);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
    void* data = nullptr;
    EXPECT_EQ(SafeArrayAccessData(nullptr, &data), E_INVALIDARG);
}

// The action frame fills a new result vector in place and hands out empty
// elements when it cannot, and it locks even an empty parameter vector.
TEST(SafeArray, NewVectorsStartEmptyAndAnyVectorLocks) {
    SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 2);
    ASSERT_NE(variants, nullptr);
    ASSERT_NE(texts, nullptr);
    VARIANT* items = nullptr;
    ASSERT_EQ(SafeArrayAccessData(variants, reinterpret_cast<void**>(&items)), S_OK);
    EXPECT_EQ(items[0].vt, VT_EMPTY);
    EXPECT_EQ(items[1].vt, VT_EMPTY);
    SafeArrayUnaccessData(variants);
    BSTR* strings = nullptr;
    ASSERT_EQ(SafeArrayAccessData(texts, reinterpret_cast<void**>(&strings)), S_OK);
    EXPECT_EQ(strings[0], nullptr);
    EXPECT_EQ(strings[1], nullptr);
    SafeArrayUnaccessData(texts);
    EXPECT_EQ(SafeArrayDestroy(variants), S_OK);
    EXPECT_EQ(SafeArrayDestroy(texts), S_OK);

    SAFEARRAY* empty = SafeArrayCreateVector(VT_VARIANT, 0, 0);
    void* data = nullptr;
    EXPECT_EQ(SafeArrayAccessData(empty, &data), S_OK);
    EXPECT_NE(data, nullptr);
    EXPECT_EQ(SafeArrayUnaccessData(empty), S_OK);
    EXPECT_EQ(SafeArrayDestroy(empty), S_OK);

    // A host may count from 1: the element count is still upper - lower + 1.
    SAFEARRAY* fromOne = SafeArrayCreateVector(VT_VARIANT, 1, 3);
    LONG lower = 0, upper = 0;
    EXPECT_EQ(SafeArrayGetLBound(fromOne, 1, &lower), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(fromOne, 1, &upper), S_OK);
    EXPECT_EQ(lower, 1);
    EXPECT_EQ(upper, 3);
    EXPECT_EQ(elementCount(fromOne), 3u);
    EXPECT_EQ(SafeArrayGetLBound(fromOne, 2, &lower), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(fromOne, 0, &upper), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayDestroy(fromOne), S_OK);
}

TEST(SafeArray, VectorsCarryTheFeaturesOfTheirElementType) {
    constexpr USHORT createdAsVector = 0x2000;
    for (const auto& [type, feature] : {std::pair{VT_BSTR, FADF_BSTR}, std::pair{VT_VARIANT, FADF_VARIANT}}) {
        SAFEARRAY* array = SafeArrayCreateVector(type, 0, 1);
        ASSERT_NE(array, nullptr);
        EXPECT_EQ(array->fFeatures, createdAsVector | FADF_HAVEVARTYPE | feature) << type;
        SafeArrayDestroy(array);
    }
}

TEST(SafeArray, LockCountStopsAt65535) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    ULONG locks = 0;
    while (SUCCEEDED(SafeArrayLock(array)) && locks < 70000) ++locks;
    EXPECT_EQ(locks, 65535u);
    while (locks-- > 0) SafeArrayUnlock(array);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

} // namespace
