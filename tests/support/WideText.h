// Conversions through a BSTR, as the host sees our text, written as plain
// strings for comparisons (where OLECHAR is char16_t, as outside Windows).
#pragma once

#include "platform/text.h"

#include <string>
#include <string_view>

inline std::u16string wideOf(std::string_view narrow) {
    BSTR text = platform::bstrFromNarrow(narrow);
    std::u16string wide(text, SysStringLen(text));
    SysFreeString(text);
    return wide;
}

inline std::string narrowOf(const std::u16string& wide) {
    BSTR text = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    std::string narrow = platform::narrowFromBstr(text);
    SysFreeString(text);
    return narrow;
}
