// Reading action parameters by type tag. Nothing is converted between types:
// a parameter has the expected tag or it is a parameter error of the action.
#pragma once

#include "platform/automation.h"
#include "platform/text.h"

#include <cstdint>
#include <string>

// Element count of a SAFEARRAY's first dimension; 0 for a null array.
inline std::uint32_t elementCount(SAFEARRAY* array) {
    LONG lower = 0;
    LONG upper = -1;
    if (!array || FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper)))
        return 0;
    return upper >= lower ? static_cast<std::uint32_t>(upper - lower + 1) : 0;
}

inline bool isInteger(const VARIANT& value) { return value.vt == VT_I4; }
inline bool isDouble(const VARIANT& value) { return value.vt == VT_R8; }
inline bool isText(const VARIANT& value) { return value.vt == VT_BSTR; }
inline bool isBool(const VARIANT& value) { return value.vt == VT_BOOL; }

// A VT_BSTR's text in 8 bits; a null BSTR reads as empty.
inline std::string textOf(const VARIANT& value) { return platform::narrowFromBstr(value.bstrVal); }

// A VT_BOOL counts as true only when it is VARIANT_TRUE (all 16 bits set).
inline bool boolOf(const VARIANT& value) { return value.boolVal == VARIANT_TRUE; }
