// Comparing the names that scripts write (link kinds, flow control) without
// regard to ASCII letter case; the locale plays no part.
#pragma once

#include <algorithm>
#include <string_view>

inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}
