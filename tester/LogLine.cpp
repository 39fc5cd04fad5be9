#include "tester/LogLine.h"

#include <cstdio>
#include <cstring>

std::size_t formatLogLine(char* buffer, const char* format, va_list texts, va_list arguments) {
    const auto plain = formatPlainLogLine(buffer, format, [&texts] { return va_arg(texts, const char*); });
    if (plain) return *plain;
    std::vsnprintf(buffer, logLineCapacity, format, arguments);
    buffer[logLineCapacity - 1] = '\0';
    // The text ends at its first NUL, as a C string handed on would.
    return std::strlen(buffer);
}
