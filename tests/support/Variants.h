// Building and reading automation values in tests.
#pragma once

#include "platform/automation.h"
#include "platform/text.h"
#include "tester/Parameters.h"

#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

// An owned VARIANT for building parameter lists.
class Value {
public:
    Value() { VariantInit(&v_); }
    Value(int i) : Value() { v_.vt = VT_I4; v_.lVal = i; }
    Value(double d) : Value() { v_.vt = VT_R8; v_.dblVal = d; }
    Value(const char* s) : Value() { v_.vt = VT_BSTR; v_.bstrVal = platform::bstrFromNarrow(s); }
    Value(const std::string& s) : Value() { v_.vt = VT_BSTR; v_.bstrVal = platform::bstrFromNarrow(s); }
    static Value boolean(bool b) { Value v; v.v_.vt = VT_BOOL; v.v_.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE; return v; }
    static Value raw(VARTYPE type) { Value v; v.v_.vt = type; return v; }
    Value(const Value& other) : Value() { VariantCopy(&v_, const_cast<VARIANT*>(&other.v_)); }
    Value& operator=(const Value& other) { VariantCopy(&v_, const_cast<VARIANT*>(&other.v_)); return *this; }
    ~Value() { VariantClear(&v_); }
    const VARIANT& get() const { return v_; }
    VARIANT& get() { return v_; }
private:
    VARIANT v_;
};

// A SAFEARRAY of VARIANT holding copies of the values; destroyed with the object.
class ParameterArray {
public:
    ParameterArray(std::initializer_list<Value> values) : ParameterArray(std::vector<Value>(values)) {}
    explicit ParameterArray(const std::vector<Value>& values) {
        array_ = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(values.size()));
        VARIANT* items = nullptr;
        SafeArrayAccessData(array_, reinterpret_cast<void**>(&items));
        for (std::size_t i = 0; i < values.size(); ++i) VariantCopy(&items[i], const_cast<VARIANT*>(&values[i].get()));
        SafeArrayUnaccessData(array_);
    }
    ~ParameterArray() { SafeArrayDestroy(array_); }
    ParameterArray(const ParameterArray&) = delete;
    ParameterArray& operator=(const ParameterArray&) = delete;
    SAFEARRAY* get() const { return array_; }
private:
    SAFEARRAY* array_ = nullptr;
};

inline std::string textOf(BSTR text) { return platform::narrowFromBstr(text); }

// The values of a SAFEARRAY of VARIANT by type and value, for comparing in
// one line: "i7 d2.5 sword b1 " (integer, double, text, boolean).
inline std::string valuesText(SAFEARRAY* array) {
    std::string out;
    if (!array) return out;
    VARIANT* items = nullptr;
    SafeArrayAccessData(array, reinterpret_cast<void**>(&items));
    for (std::uint32_t i = 0; i < elementCount(array); ++i) {
        const VARIANT& item = items[i];
        // Appended piece by piece: GCC 12 warns falsely on "x" + string.
        std::ostringstream value;
        if (item.vt == VT_I4) value << 'i' << item.lVal;
        if (item.vt == VT_R8) value << 'd' << item.dblVal;
        if (item.vt == VT_BSTR) value << 's' << platform::narrowFromBstr(item.bstrVal);
        if (item.vt == VT_BOOL) value << 'b' << (item.boolVal == VARIANT_TRUE ? 1 : 0);
        if (!value.str().empty()) out.append(value.str()).append(" ");
    }
    SafeArrayUnaccessData(array);
    return out;
}
